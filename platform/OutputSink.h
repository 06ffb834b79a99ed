#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tv2 {

// Where the window-less modes write: a file, standard output or, in tests, a
// string. Writes either complete or fail with the system's reason.
class OutputSink {
 public:
  virtual ~OutputSink() = default;

  // Writes every byte; false at the first failure, with *written telling how
  // many of them reached the target all the same.
  virtual bool write(std::string_view bytes, size_t* written) = 0;
  // Takes the last count bytes written back out of the target; false when
  // the target cannot (a pipe, a terminal, a device).
  virtual bool takeBack(size_t count) = 0;
  // The system's text for the last failure ("No space left on device").
  virtual std::string errorText() const = 0;
};

}  // namespace tv2
