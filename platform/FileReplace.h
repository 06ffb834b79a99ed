#pragma once

#include <string>
#include <string_view>

namespace tv2 {

// How a whole-file replacement ended.
enum class ReplaceOutcome {
  kReplaced,   // the new contents are at the path
  kNoNewFile,  // the folder takes no new file; nothing changed
  kFailed,     // a folder at the path, a failed write or rename; nothing changed
};

// Replaces the file at path with bytes: written whole to a fresh file created
// exclusively beside it, given the old file's owner, group and permission
// bits (never set-user or set-group id), flushed to disk and renamed over it.
// A link at path that belongs to the caller's effective user is followed and
// the file it names replaced (the link stays); a link of anybody else's is
// itself replaced and whatever it names stays untouched. Threads: any; the
// file system is the only shared state.
ReplaceOutcome ReplaceFileContents(const std::string& path, std::string_view bytes);

// The file path names once the caller's own links are followed (at most a
// few in a row); a link of another user's is where it stops. Path itself when
// it is no link.
std::string FollowOwnLinks(const std::string& path);

// Rewrites the file at path in place (truncated, then bytes), after following
// the caller's own links only; another user's link is never written through.
// False when it cannot be opened as a plain file or the write fails.
bool RewriteFileInPlace(const std::string& path, std::string_view bytes);

}  // namespace tv2
