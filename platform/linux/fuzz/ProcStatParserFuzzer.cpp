// libFuzzer target for the reader of /proc/stat: the input is the file's
// text, parsed whole and line by line for a few processor lists; both ways
// must agree.
//
// Built with clang only by scripts/fuzz-parsers.sh; not part of the normal build.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "platform/linux/ProcStatParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte picks the ticks per second (0 and negatives included).
  const int64_t ticks = static_cast<int64_t>(static_cast<int8_t>(data[0])) * 25;
  std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  static const int kLists[][4] = {{0, 1, 2, 3}, {3, 0, 63, 7}, {1, 1, 1, 1}};
  for (const auto& list : kLists) {
    std::span<const int> cpus(list, 4);
    tv2::ProcessorTimes whole[4] = {};
    uint32_t wholeResult = tv2::ProcStatParser::parse(text, cpus, ticks, whole);

    tv2::ProcessorTimes byLine[4] = {};
    tv2::ProcStatParser parser(cpus, ticks, byLine);
    size_t start = 0;
    while (start <= text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string_view::npos) end = text.size();
      if (parser.feedLine(text.substr(start, end - start)) != tv2::ProcStatParser::Step::kMore) break;
      start = end + 1;
    }
    // Fed whole or line by line, the same text gives the same answer.
    uint32_t lineResult = parser.finish();
    if (lineResult != wholeResult) std::abort();
    if (wholeResult == 0) {
      for (int i = 0; i < 4; ++i) {
        if (whole[i].idle != byLine[i].idle || whole[i].kernel != byLine[i].kernel ||
            whole[i].user != byLine[i].user)
          std::abort();
        // Kernel time includes idle time; nothing is negative.
        if (whole[i].idle < 0 || whole[i].user < 0 || whole[i].kernel < whole[i].idle) std::abort();
      }
    }
  }
  return 0;
}
