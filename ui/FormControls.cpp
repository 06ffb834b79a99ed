#include "ui/FormControls.h"

#include "ui/CGraphControl.h"
#include "ui/DialogUnits.h"
#include "ui/StaticLabel.h"

namespace tv2 {

CGraphControl* createGraphControl(QWidget* view, const DialogUnits& units, QSize dlu) {
  auto* graph = new CGraphControl(view);
  // Static controls leave the mouse to the view, which hit-tests the slots.
  graph->setAttribute(Qt::WA_TransparentForMouseEvents);
  graph->resize(units.toPixels(dlu));
  return graph;
}

StaticLabel* createStaticText(QWidget* view, const DialogUnits& units, QSize dlu, const QString& caption,
                              bool rightAligned) {
  auto* label = new StaticLabel(caption, rightAligned ? Qt::AlignRight : Qt::AlignLeft, view);
  label->setAttribute(Qt::WA_TransparentForMouseEvents);
  label->resize(units.toPixels(dlu));
  return label;
}

}  // namespace tv2
