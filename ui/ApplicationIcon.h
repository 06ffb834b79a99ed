#pragma once

#include <QIcon>

namespace tv2 {

// The program's icon, drawn from its SVG at every size a window manager,
// a task bar or a dialog asks for (16 to 256 pixels). Needs a
// QGuiApplication; each call renders afresh, so no pixmap outlives it.
// User-interface thread only.
QIcon applicationIcon();

}  // namespace tv2
