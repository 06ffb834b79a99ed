#include "app/TextFileWriter.h"

#include "platform/FileReplace.h"

namespace tv2 {

bool TextFileWriter::replaceFile(const std::string& path, std::string_view bytes) {
  return ReplaceFileContents(path, bytes) == ReplaceOutcome::kReplaced;
}

bool TextFileWriter::writeNarrow(const std::string& path, std::string_view text) {
  const std::string bytes = withCrLf(text);
  const ReplaceOutcome outcome = ReplaceFileContents(path, bytes);
  if (outcome != ReplaceOutcome::kNoNewFile) return outcome == ReplaceOutcome::kReplaced;
  // The folder refused a new file; the file itself may still be writable.
  return RewriteFileInPlace(path, bytes);
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
