#include "platform/linux/ProcStatParser.h"

#include <charconv>

#include "platform/ErrorCodes.h"
#include "platform/linux/LinuxErrors.h"

namespace tv2 {

namespace {

// Fields of a cpuN line in kernel order; kernels since 2.6 print at least
// these seven, the oldest four.
enum Field { kUser, kNice, kSystem, kIdle, kIowait, kIrq, kSoftirq, kFieldCount };
constexpr int kMinimumFields = 4;
// Any single counter above this is not a tick count (it would be millions of
// years at 1000 Hz); refusing it keeps the sums below 2^63.
constexpr uint64_t kMaxTicks = uint64_t{1} << 59;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view nextToken(std::string_view* rest) {
  size_t start = 0;
  while (start < rest->size() && isBlank((*rest)[start])) ++start;
  size_t end = start;
  while (end < rest->size() && !isBlank((*rest)[end])) ++end;
  std::string_view token = rest->substr(start, end - start);
  rest->remove_prefix(end);
  return token;
}

bool parseUnsigned(std::string_view token, uint64_t* out) {
  if (token.empty()) return false;
  auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), *out);
  return ec == std::errc() && end == token.data() + token.size();
}

}  // namespace

ProcStatParser::ProcStatParser(std::span<const int> cpus, int64_t ticksPerSecond,
                               ProcessorTimes* out)
    : m_cpus(cpus.size() > 64 ? cpus.first(64) : cpus), m_ticksPerSecond(ticksPerSecond), m_out(out) {
  m_wanted = m_cpus.size() >= 64 ? ~uint64_t{0} : (uint64_t{1} << m_cpus.size()) - 1;
  if (ticksPerSecond <= 0 || (out == nullptr && !m_cpus.empty())) m_malformed = true;
}

bool ProcStatParser::ticksTo100ns(uint64_t ticks, int64_t ticksPerSecond, int64_t* out) {
  constexpr uint64_t kUnitsPerSecond = 10'000'000;
  if (ticksPerSecond <= 0) return false;
  uint64_t rate = static_cast<uint64_t>(ticksPerSecond);
  // Whole seconds and the remainder apart, so nothing overflows before the
  // final check: ticks * 10^7 / rate = seconds * 10^7 + rest * 10^7 / rate.
  uint64_t seconds = ticks / rate;
  uint64_t rest = ticks % rate;
  constexpr uint64_t kMaxSeconds = static_cast<uint64_t>(INT64_MAX) / kUnitsPerSecond - 1;
  if (seconds > kMaxSeconds) return false;
  if (rest > UINT64_MAX / kUnitsPerSecond) return false;  // only with absurd tick rates
  *out = static_cast<int64_t>(seconds * kUnitsPerSecond + rest * kUnitsPerSecond / rate);
  return true;
}

ProcStatParser::Step ProcStatParser::feedLine(std::string_view line) {
  if (m_malformed) return Step::kMalformed;
  if (m_found == m_wanted) return Step::kDone;

  std::string_view rest = line;
  std::string_view name = nextToken(&rest);
  // Only "cpu<digits>"; the "cpu" total line and every other line are skipped.
  if (name.size() <= 3 || name.substr(0, 3) != "cpu") return Step::kMore;
  if (name[3] < '0' || name[3] > '9') return Step::kMore;
  uint64_t cpuNumber = 0;
  if (!parseUnsigned(name.substr(3), &cpuNumber)) {
    m_malformed = true;
    return Step::kMalformed;
  }
  int slot = -1;
  for (size_t i = 0; i < m_cpus.size(); ++i) {
    if (static_cast<uint64_t>(m_cpus[i]) == cpuNumber && m_cpus[i] >= 0) {
      slot = static_cast<int>(i);
      break;
    }
  }
  // A CPU nobody asked for is not read further: its numbers do not matter.
  if (slot < 0) return Step::kMore;

  uint64_t ticks[kFieldCount] = {};
  int fields = 0;
  for (;;) {
    std::string_view token = nextToken(&rest);
    if (token.empty()) break;
    uint64_t value = 0;
    if (!parseUnsigned(token, &value) || value > kMaxTicks) {
      m_malformed = true;
      return Step::kMalformed;
    }
    if (fields < kFieldCount) ticks[fields] = value;
    ++fields;
  }
  if (fields < kMinimumFields || (m_found & (uint64_t{1} << slot)) != 0) {
    m_malformed = true;
    return Step::kMalformed;
  }

  uint64_t idle = ticks[kIdle] + ticks[kIowait];
  uint64_t kernel = ticks[kSystem] + ticks[kIrq] + ticks[kSoftirq] + idle;
  uint64_t user = ticks[kUser] + ticks[kNice];
  ProcessorTimes& times = m_out[slot];
  if (!ticksTo100ns(idle, m_ticksPerSecond, &times.idle) ||
      !ticksTo100ns(kernel, m_ticksPerSecond, &times.kernel) ||
      !ticksTo100ns(user, m_ticksPerSecond, &times.user)) {
    m_malformed = true;
    return Step::kMalformed;
  }
  m_found |= uint64_t{1} << slot;
  return m_found == m_wanted ? Step::kDone : Step::kMore;
}

uint32_t ProcStatParser::finish() const {
  if (m_ticksPerSecond <= 0) return kErrorInvalidParameter;
  if (m_malformed) return LinuxErrors::kInvalidData;
  if (m_found != m_wanted) return LinuxErrors::kNotFound;
  return kOk;
}

uint32_t ProcStatParser::parse(std::string_view text, std::span<const int> cpus,
                               int64_t ticksPerSecond, ProcessorTimes* out) {
  ProcStatParser parser(cpus, ticksPerSecond, out);
  while (!text.empty()) {
    size_t newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
    if (parser.feedLine(line) != Step::kMore) break;
  }
  return parser.finish();
}

}  // namespace tv2
