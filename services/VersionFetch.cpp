#include "services/VersionFetch.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace tv2 {

namespace {

int connectionErrorCode(QNetworkReply::NetworkError error) {
  switch (error) {
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::ProxyNotFoundError: return VersionFetch::kErrorNameNotResolved;
    case QNetworkReply::TimeoutError:
    case QNetworkReply::ProxyTimeoutError: return VersionFetch::kErrorTimeout;
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::ProxyConnectionClosedError: return VersionFetch::kErrorConnectionAborted;
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError: return VersionFetch::kErrorConnectionReset;
    case QNetworkReply::SslHandshakeFailedError: return VersionFetch::kErrorSecureChannel;
    case QNetworkReply::ProtocolUnknownError:
    case QNetworkReply::ProtocolInvalidOperationError: return VersionFetch::kErrorUnrecognisedScheme;
    default: return VersionFetch::kErrorCannotConnect;
  }
}

// Errors that come with an HTTP answer (404, 500, ...): the server was
// reached and its answer is read like any other, as the internet library
// does; the marker check then turns an error page away.
bool isHttpLevelError(QNetworkReply::NetworkError error) {
  return error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownServerError &&
         !(error >= QNetworkReply::ProtocolUnknownError && error <= QNetworkReply::ProtocolFailure);
}

}  // namespace

VersionFetch::Result VersionFetch::fetch(const QUrl& url, int limitMs) {
  QNetworkProxyFactory::setUseSystemConfiguration(true);
  QNetworkAccessManager manager;
  QNetworkRequest request(url);
  request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("Norvane"));
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
  request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
  // Proxies and servers in between must not answer from their caches either.
  request.setRawHeader("Cache-Control", "no-cache");
  request.setRawHeader("Pragma", "no-cache");

  Result result;
  QEventLoop loop;
  QTimer limit;
  limit.setSingleShot(true);
  limit.setTimerType(Qt::PreciseTimer);
  bool timedOut = false;
  bool full = false;

  QNetworkReply* reply = manager.get(request);
  QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
    result.bytes += reply->read(kMaxBytes - result.bytes.size());
    if (result.bytes.size() >= kMaxBytes) {
      full = true;
      loop.quit();
    }
  });
  QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
  QObject::connect(&limit, &QTimer::timeout, &loop, [&] {
    timedOut = true;
    loop.quit();
  });
  limit.start(limitMs);
  if (!reply->isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);

  bool finished = reply->isFinished();
  QNetworkReply::NetworkError error = reply->error();
  bool answered = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
  if (finished && !full) result.bytes += reply->read(kMaxBytes - result.bytes.size());
  // Nothing of the reply may reach the local loop's lambdas any more.
  QObject::disconnect(reply, nullptr, &loop, nullptr);
  if (!finished) reply->abort();
  delete reply;

  if (full) {
    result.status = Status::kRead;
    return result;
  }
  if (timedOut && !finished) {
    result.bytes.clear();
    // A server that never answered (no connection, no secure channel or no
    // answer to the request) failed like one that cannot be reached; one
    // that answered and then stalled is a failed read, told to nobody.
    if (answered) {
      result.status = Status::kReadFailed;
    } else {
      result.status = Status::kConnectFailed;
      result.errorCode = kErrorTimeout;
    }
    return result;
  }
  if (error != QNetworkReply::NoError && !answered) {
    result.status = Status::kConnectFailed;
    result.errorCode = connectionErrorCode(error);
    result.bytes.clear();
    return result;
  }
  if (error != QNetworkReply::NoError && !isHttpLevelError(error)) {
    // Reached, then cut off before the answer was complete.
    result.status = Status::kReadFailed;
    result.bytes.clear();
    return result;
  }
  result.status = result.bytes.isEmpty() ? Status::kReadFailed : Status::kRead;
  return result;
}

}  // namespace tv2
