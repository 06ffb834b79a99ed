#pragma once

#include <QBrush>
#include <QFont>

namespace tv2 {

// The fonts and the brush the application creates once at start-up and the
// views share: the dialog font standing in for "MS Shell Dlg" 8 point, the
// 14 and 17 pixel fonts and the white brush. CJK-capable faces so that the
// Chinese texts render.
struct SharedDrawingObjects {
  QFont dialogFont;
  QFont font14;
  QFont font17;
  QFont font17Bold;
  QBrush whiteBrush{Qt::white};

  // Builds the set from the installed fonts; needs a QGuiApplication.
  static SharedDrawingObjects create();
};

}  // namespace tv2
