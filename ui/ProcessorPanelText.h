#pragma once

#include <string>
#include <vector>

namespace tv2 {

class CProcessor_2;

// The texts of the right view's processor panel, UTF-8, formatted once from
// the displayed processor, and the event name of a metric number. Free of Qt
// so that the wording can be checked on any processor record.
struct ProcessorPanelText {
  std::string name;
  std::string topology;
  std::string features;
  std::string clock;
  std::string tdp;
  // One line per cache level in the processor's order, each ending in '\n';
  // the view shows the first five.
  std::vector<std::string> caches;

  static ProcessorPanelText format(const CProcessor_2& processor);

  // The event-name line for a metric number (low byte of a counter's
  // identity); empty for numbers without a name.
  static std::string eventName(int metric);
};

}  // namespace tv2
