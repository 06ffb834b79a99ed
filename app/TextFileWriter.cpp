#include "app/TextFileWriter.h"

#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

namespace tv2 {
namespace {

namespace fs = std::filesystem;

constexpr int kTemporaryAttempts = 8;

bool writeAll(std::FILE* file, std::string_view bytes) {
  bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  written = std::fflush(file) == 0 && written;
  return std::fclose(file) == 0 && written;
}

// A new file beside path, created exclusively ("x": never an existing name,
// never through a link). Null when the folder takes none.
std::FILE* createTemporary(const std::string& path, std::string* temporary) {
  std::random_device seed;
  std::mt19937 random(seed());
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof kDigits) - 2);
  for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
    std::string name = path + ".~";
    for (int k = 0; k < 6; ++k) name.push_back(kDigits[pick(random)]);
    std::FILE* file = std::fopen(name.c_str(), "wbx");
    if (file != nullptr) {
      *temporary = std::move(name);
      return file;
    }
    std::error_code error;
    // Only a name that is taken is worth another try.
    if (!fs::exists(fs::symlink_status(name, error))) return nullptr;
  }
  return nullptr;
}

bool validPath(const std::string& path) { return !path.empty() && path.find('\0') == std::string::npos; }

enum class Outcome { kReplaced, kNoTemporary, kFailed };

Outcome replace(const std::string& path, std::string_view bytes) {
  std::string temporary;
  std::FILE* file = createTemporary(path, &temporary);
  if (file == nullptr) return Outcome::kNoTemporary;
  bool written = writeAll(file, bytes);
  std::error_code error;
  if (written) {
    // rename replaces a file (or a link) at path in one step; a folder there
    // makes it fail.
    fs::rename(temporary, path, error);
    written = !error;
  }
  if (!written) fs::remove(temporary, error);
  return written ? Outcome::kReplaced : Outcome::kFailed;
}

}  // namespace

bool TextFileWriter::replaceFile(const std::string& path, std::string_view bytes) {
  return validPath(path) && replace(path, bytes) == Outcome::kReplaced;
}

bool TextFileWriter::writeNarrow(const std::string& path, std::string_view text) {
  if (!validPath(path)) return false;
  const std::string bytes = withCrLf(text);
  std::error_code error;
  std::string target = path;
  if (fs::is_symlink(fs::symlink_status(path, error))) {
    fs::path resolved = fs::weakly_canonical(path, error);
    if (error) return false;
    target = resolved.string();
  }
  Outcome outcome = replace(target, bytes);
  if (outcome != Outcome::kNoTemporary) return outcome == Outcome::kReplaced;
  // The folder refused a new file; the file itself may still be writable.
  if (fs::is_directory(target, error)) return false;
  std::FILE* file = std::fopen(target.c_str(), "wb");
  return file != nullptr && writeAll(file, bytes);
}

std::string TextFileWriter::withCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16 + 2);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (text[i] == '\n') out.push_back('\r');
    out.push_back(text[i]);
  }
  return out;
}

}  // namespace tv2
