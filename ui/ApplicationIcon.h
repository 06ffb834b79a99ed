#pragma once

#include <QIcon>

namespace tv2 {

// The program's icon, drawn from its SVG at whatever size a window manager,
// a task bar or a dialog asks for (it offers 16 to 256 pixels). Needs a
// QGuiApplication; every request draws afresh, so the icon keeps no pixmaps.
// User-interface thread only.
QIcon applicationIcon();

}  // namespace tv2
