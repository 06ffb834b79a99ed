#include "services/ResumeSequence.h"

#include <memory>

#include "app/CProfile.h"
#include "app/CTarvelle2App.h"
#include "ui/MessageWindow.h"
#include "ui/WindowMessages.h"

namespace tv2 {

void RunResumeSequence(CTarvelle2App& app, MessageWindow& frame) {
  int32_t current = app.currentConfig;
  auto profile = std::make_unique<CProfile>();
  frame.sendMessage(UM_SAVE_PROFILE, 0, reinterpret_cast<intptr_t>(profile.get()));
  // With no configuration current the switch below rebuilds even the one
  // that was current.
  app.currentConfig = -1;
  frame.sendMessage(UM_SELECT_CONFIG, static_cast<uintptr_t>(static_cast<intptr_t>(current)), 0);
  frame.sendMessage(UM_APPLY_PROFILE, reinterpret_cast<uintptr_t>(profile.get()), 0);
}

}  // namespace tv2
