#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/CProfile.h"
#include "app/ConfigurationMenu.h"

namespace tv2 {

// One counter configuration of the processor class: which events the general
// counters count (the catalogue's event tables by index) and the default
// profile, the metrics the left view's graph slots show first.
//
// Threads: created at start-up and read by the user-interface thread only;
// the window layer sets menu on that thread too.
class CCountersConfig {
 public:
  CCountersConfig() = default;
  virtual ~CCountersConfig() = default;
  CCountersConfig(const CCountersConfig&) = delete;
  CCountersConfig& operator=(const CCountersConfig&) = delete;

  std::string name;   // "配置 0", "配置 1", "配置 2"
  int32_t index = -1;  // position in the array; the event tables' configuration number
  std::unique_ptr<ConfigurationMenu> menu;  // built by the left view, null until then
  std::unique_ptr<CProfile> profile;
};

}  // namespace tv2
