#pragma once

#include <string>
#include <string_view>

namespace tv2 {

// Writes the program's files so that a failed write never leaves a file half
// written: the new contents go to a fresh file beside the old one, which is
// renamed over it only once they are complete. Threads: any; the file system
// is the only shared state.
class TextFileWriter {
 public:
  // Replaces whatever file is at path with bytes. The temporary file is
  // created exclusively under a fresh name and takes the old file's owner,
  // group and mode. A link of the running user's is followed (the file it
  // names is replaced, the link stays); anybody else's link is itself
  // replaced and never written through. False, with the old file untouched,
  // when the folder takes no new file, the disk is full or the path names a
  // folder.
  static bool replaceFile(const std::string& path, std::string_view bytes);

  // An 8-bit text file (profile files, the debug report): text's bytes as
  // they are, each '\n' written as CR LF (a CR LF already there stays one
  // line end). Links are treated as by replaceFile. When
  // the folder takes no new file but the file itself may be written, it is
  // rewritten in place, as a text stream opened for writing would.
  static bool writeNarrow(const std::string& path, std::string_view text);

  // '\n' -> CR LF, keeping an existing CR LF as it is.
  static std::string withCrLf(std::string_view text);
};

}  // namespace tv2
