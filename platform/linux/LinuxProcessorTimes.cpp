#include "platform/linux/LinuxProcessorTimes.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>

#include "platform/ErrorCodes.h"
#include "platform/linux/LinuxErrors.h"
#include "platform/linux/ProcStatParser.h"

namespace tv2 {

namespace {

// Holds several cpuN lines (each well under 256 characters); longer lines,
// such as "intr", are skipped a chunk at a time.
constexpr size_t kChunkSize = 4096;

// Closes the descriptor on every return path.
class FdCloser {
 public:
  explicit FdCloser(int fd) : m_fd(fd) {}
  ~FdCloser() { ::close(m_fd); }
  FdCloser(const FdCloser&) = delete;
  FdCloser& operator=(const FdCloser&) = delete;

 private:
  int m_fd;
};

}  // namespace

LinuxProcessorTimes::LinuxProcessorTimes(const LinuxGroupLayout& layout, std::string procStatPath,
                                         int64_t ticksPerSecond)
    : m_layout(layout), m_procStatPath(std::move(procStatPath)), m_ticksPerSecond(ticksPerSecond) {}

uint32_t LinuxProcessorTimes::query(int group, ProcessorTimes* out, int count) {
  if (group < 0 || group >= m_layout.groupCount() || count < 0 ||
      count > m_layout.groupSize(group) || (out == nullptr && count > 0)) {
    return kErrorInvalidParameter;
  }
  if (m_ticksPerSecond <= 0) return kErrorInvalidParameter;
  if (count == 0) return kOk;

  int fd = ::open(m_procStatPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return LinuxErrors::fromErrno(errno);
  FdCloser closer(fd);

  ProcStatParser parser(m_layout.groupCpus(group).first(static_cast<size_t>(count)),
                        m_ticksPerSecond, out);
  char chunk[kChunkSize];
  size_t used = 0;
  // True while the rest of an over-long line is being thrown away.
  bool skipping = false;
  for (;;) {
    ssize_t got = ::read(fd, chunk + used, kChunkSize - used);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return LinuxErrors::fromErrno(errno);
    if (got == 0) {
      // The last line may lack its '\n'.
      if (used > 0 && !skipping) parser.feedLine(std::string_view(chunk, used));
      return parser.finish();
    }
    used += static_cast<size_t>(got);

    size_t start = 0;
    for (;;) {
      const void* found = std::memchr(chunk + start, '\n', used - start);
      if (found == nullptr) break;
      size_t end = static_cast<size_t>(static_cast<const char*>(found) - chunk);
      if (skipping) {
        skipping = false;
      } else if (parser.feedLine(std::string_view(chunk + start, end - start)) !=
                 ProcStatParser::Step::kMore) {
        return parser.finish();
      }
      start = end + 1;
    }
    if (start == 0 && used == kChunkSize) {
      // A line longer than the chunk. A cpuN line never is one, so a line
      // starting with "cpu" and a digit this long is malformed.
      std::string_view head(chunk, used);
      if (!skipping && head.size() > 3 && head.substr(0, 3) == "cpu" && head[3] >= '0' &&
          head[3] <= '9') {
        return LinuxErrors::kInvalidData;
      }
      skipping = true;
      used = 0;
      continue;
    }
    std::memmove(chunk, chunk + start, used - start);
    used -= start;
  }
}

}  // namespace tv2
