#include "platform/linux/perf/SysfsText.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>

namespace tv2 {

bool SysfsText::read(const std::string& path, std::string* out) {
  // Non-blocking: a FIFO planted in a tree must not hold the reader.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return false;
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return false;
  }
  out->clear();
  char buffer[kMaxFileSize + 1];
  size_t have = 0;
  for (;;) {
    ssize_t got = ::read(fd, buffer + have, sizeof buffer - have);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      ::close(fd);
      return false;
    }
    if (got == 0) break;
    have += static_cast<size_t>(got);
    if (have > kMaxFileSize) {
      ::close(fd);
      return false;
    }
  }
  ::close(fd);
  out->assign(buffer, have);
  return true;
}

bool SysfsText::readTrimmed(const std::string& path, std::string* out) {
  if (!read(path, out)) return false;
  *out = std::string(trim(*out));
  return true;
}

bool SysfsText::readInt(const std::string& path, int64_t* out) {
  std::string text;
  return read(path, &text) && parseInt(trim(text), out);
}

bool SysfsText::readUnsigned(const std::string& path, uint64_t* out) {
  std::string text;
  return read(path, &text) && parseUnsigned(trim(text), out);
}

std::vector<std::string> SysfsText::list(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = ::readdir(dir)) {
    std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    names.emplace_back(name);
    if (names.size() >= kMaxEntries) break;
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

std::string SysfsText::linkName(const std::string& path) {
  char target[4096];
  ssize_t got = ::readlink(path.c_str(), target, sizeof target - 1);
  if (got <= 0) return std::string();
  std::string_view text(target, static_cast<size_t>(got));
  while (!text.empty() && text.back() == '/') text.remove_suffix(1);
  size_t slash = text.rfind('/');
  return std::string(slash == std::string_view::npos ? text : text.substr(slash + 1));
}

std::string_view SysfsText::trim(std::string_view text) {
  auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (!text.empty() && space(text.front())) text.remove_prefix(1);
  while (!text.empty() && space(text.back())) text.remove_suffix(1);
  return text;
}

bool SysfsText::parseInt(std::string_view text, int64_t* out) {
  if (text.empty()) return false;
  int64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  *out = value;
  return true;
}

bool SysfsText::parseUnsigned(std::string_view text, uint64_t* out) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  uint64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  *out = value;
  return true;
}

bool SysfsText::parseCpuList(std::string_view text, std::vector<int>* out, int limit) {
  std::vector<int> cpus;
  text = trim(text);
  auto number = [limit](std::string_view token, int* value) {
    int64_t parsed = 0;
    if (token.empty() || token[0] == '-' || token[0] == '+' || !parseInt(token, &parsed)) return false;
    if (parsed < 0 || parsed >= limit) return false;
    *value = static_cast<int>(parsed);
    return true;
  };
  while (!text.empty()) {
    size_t comma = text.find(',');
    std::string_view item = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    if (comma != std::string_view::npos && text.empty()) return false;
    size_t dash = item.find('-');
    int first = 0;
    int last = 0;
    if (dash == std::string_view::npos) {
      if (!number(item, &first)) return false;
      last = first;
    } else if (!number(item.substr(0, dash), &first) || !number(item.substr(dash + 1), &last) || last < first) {
      return false;
    }
    for (int cpu = first; cpu <= last; ++cpu) cpus.push_back(cpu);
  }
  if (cpus.empty()) return false;
  std::sort(cpus.begin(), cpus.end());
  cpus.erase(std::unique(cpus.begin(), cpus.end()), cpus.end());
  *out = std::move(cpus);
  return true;
}

}  // namespace tv2
