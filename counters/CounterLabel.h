#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

#include "counters/model/CCounter.h"
#include "counters/model/CTList.h"
#include "cpu/CProcessor_2.h"

namespace tv2 {

// How the catalogue labels a counter: the name the views show, the unit after
// the value, the value at the top of a graph, the display flags and the type
// code profiles and menus select it by.
struct CounterLabel {
  std::string name;
  const char* unit = "";
  int32_t fullScale = 100;
  uint32_t displayFlags = 0;
  uint32_t typeCode = 0;
};

// "CPU %d", "核心 %d" and the like: a label numbered with a position.
inline std::string numberedName(const char* format, int32_t number) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, static_cast<int>(number));
  return buffer;
}

// Creates a counter of type T (constructor arguments after the index), gives
// it the processor's next counter index, labels it and files it at the end of
// list, which owns it from then on. Indices therefore follow building order.
template <typename T, typename... Args>
T* appendCounter(CProcessor_2& processor, CTList<CCounter>& list, const CounterLabel& label, Args&&... args) {
  auto* counter = new T(processor.counterCount++, std::forward<Args>(args)...);
  counter->name = label.name;
  counter->unit = label.unit;
  counter->fullScale = label.fullScale;
  counter->displayFlags = label.displayFlags;
  counter->setTypeCode(label.typeCode);
  list.Append(counter);
  return counter;
}

}  // namespace tv2
