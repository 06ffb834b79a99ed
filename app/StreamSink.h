#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "platform/OutputSink.h"

namespace tv2 {

// An output stream as a sink (tests, and text gathered in memory). A stream
// tells no reason and keeps no count of a failed write: all or nothing.
class StreamSink : public OutputSink {
 public:
  explicit StreamSink(std::ostream& out) : m_out(out) {}

  bool write(std::string_view bytes, size_t* written) override {
    m_out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    m_out.flush();
    *written = m_out.good() ? bytes.size() : 0;
    return m_out.good();
  }
  bool takeBack(size_t) override { return false; }
  std::string errorText() const override { return "the stream failed"; }

 private:
  std::ostream& m_out;
};

}  // namespace tv2
