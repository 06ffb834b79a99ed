#pragma once

#include <QByteArray>
#include <QUrl>

namespace tv2 {

// The one request of the update check: a GET of the version file that never
// answers from a cache, sent with the agent "Norvane" through the system's
// proxy settings, keeping at most the first 512 bytes of the answer.
//
// Runs on the user-interface thread and blocks it, but through a local event
// loop that keeps user input out: timers and cross-thread deliveries still
// run, the user cannot start a second check meanwhile.
class VersionFetch {
 public:
  static constexpr qsizetype kMaxBytes = 512;
  // The whole fetch, connection and read together, ends after this long: a
  // server that accepts the connection and never answers must not hold the
  // program (at start, before its window) for ever.
  static constexpr int kDefaultLimitMs = 5000;

  enum class Status {
    kRead,           // bytes holds the answer (possibly an error page)
    kConnectFailed,  // the server could not be reached or never answered in time; errorCode says why
    kReadFailed,     // it answered, but nothing (or not in time) was read
  };
  struct Result {
    Status status = Status::kReadFailed;
    int errorCode = 0;
    QByteArray bytes;
  };

  // The codes "服务器连接错误 [%d]" shows. They keep the WinINet numbers
  // (12029 cannot connect, 12007 name not resolved, ...), the same on every
  // system the product runs on, so that a number a user reports is clear.
  static constexpr int kErrorTimeout = 12002;
  static constexpr int kErrorUnrecognisedScheme = 12006;
  static constexpr int kErrorNameNotResolved = 12007;
  static constexpr int kErrorCannotConnect = 12029;
  static constexpr int kErrorConnectionAborted = 12030;
  static constexpr int kErrorConnectionReset = 12031;
  static constexpr int kErrorSecureChannel = 12157;

  static Result fetch(const QUrl& url, int limitMs = kDefaultLimitMs);
};

}  // namespace tv2
