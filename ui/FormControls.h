#pragma once

#include <QSize>
#include <QString>

class QWidget;

namespace tv2 {

class CGraphControl;
class DialogUnits;
class StaticLabel;

// The controls of a form template, created at their template size (dialog
// units) as children of the view; their places come from the view's layout.
// Qt's parent ownership deletes them with the view.

// A graph standing in for a bordered placeholder of size dlu.
CGraphControl* createGraphControl(QWidget* view, const DialogUnits& units, QSize dlu);

// A static text with its template caption, left or right aligned.
StaticLabel* createStaticText(QWidget* view, const DialogUnits& units, QSize dlu, const QString& caption,
                              bool rightAligned = false);

}  // namespace tv2
