#include "services/PowerEventWatcher.h"

#include <QDBusConnectionInterface>
#include <QEventLoop>

#include "services/EventSink.h"
#include "services/ResumeSequence.h"
#include "services/SleepSignalReceiver.h"

namespace tv2 {

namespace {

const char* const kSignalName = "PrepareForSleep";
const char* const kSlot = SLOT(onPrepareForSleep(bool));

}  // namespace

PowerEventWatcher::PowerEventWatcher() = default;

PowerEventWatcher::~PowerEventWatcher() { tearDown(); }

bool PowerEventWatcher::setUp(CTarvelle2App& app, MessageWindow* frame, const QString& busAddress) {
  if (m_on) return true;
  if (busAddress.isEmpty()) {
    m_bus = QDBusConnection::systemBus();
  } else {
    m_connectionName = QStringLiteral("tv2-power-events-%1").arg(reinterpret_cast<quintptr>(this), 0, 16);
    m_bus = QDBusConnection::connectToBus(busAddress, m_connectionName);
  }
  if (!m_bus->isConnected() || !logindPresent(*m_bus)) {
    releaseConnection();
    return false;
  }

  m_app = &app;
  if (frame != nullptr) setMainWindow(frame);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_threadReady = false;
    m_stopping = false;
    m_resumesRequested = 0;
    m_resumesDone = 0;
  }
  m_sink = new EventSink([this] { handOverResume(); });
  m_sink->AddRef();
  m_thread = std::thread([this] { notificationThread(); });
  SleepSignalReceiver* receiver = nullptr;
  {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_threadReady; });
    receiver = m_receiver;
  }
  m_on = true;

  if (!m_bus->connect(QString::fromLatin1(kLogindService), QString::fromLatin1(kLogindPath),
                      QString::fromLatin1(kLogindInterface), QString::fromLatin1(kSignalName), receiver, kSlot)) {
    tearDown();
    return false;
  }
  return true;
}

void PowerEventWatcher::tearDown() {
  if (!m_on) return;
  m_on = false;
  QEventLoop* loop = nullptr;
  SleepSignalReceiver* receiver = nullptr;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    loop = m_loop;
    receiver = m_receiver;
  }
  m_bus->disconnect(QString::fromLatin1(kLogindService), QString::fromLatin1(kLogindPath),
                    QString::fromLatin1(kLogindInterface), QString::fromLatin1(kSignalName), receiver, kSlot);
  {
    // A delivery waiting for the user-interface thread, which from here on
    // waits for the notification thread, is let go. Set after the
    // disconnection, so that the receiver is destroyed (after the thread
    // takes this mutex again) only once the bus is done with it.
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
  }
  m_changed.notify_all();
  // Queued, so that it also ends a loop that has not started running yet.
  QMetaObject::invokeMethod(loop, "quit", Qt::QueuedConnection);
  m_thread.join();
  releaseConnection();
  m_sink->Release();
  m_sink = nullptr;
  m_app = nullptr;
}

void PowerEventWatcher::setMainWindow(MessageWindow* frame, QObject* frameObject) {
  QObject::disconnect(m_frameDestroyed);
  m_frame = frame;
  if (frame == nullptr || frameObject == nullptr) return;
  m_frameDestroyed = connect(frameObject, &QObject::destroyed, this, [this] { m_frame = nullptr; });
}

bool PowerEventWatcher::logindPresent(QDBusConnection& bus) const {
  QDBusConnectionInterface* names = bus.interface();
  if (names == nullptr) return false;
  QString service = QString::fromLatin1(kLogindService);
  QDBusReply<bool> registered = names->isServiceRegistered(service);
  if (registered.isValid() && registered.value()) return true;
  // logind may also be started on demand by the bus.
  QDBusReply<QStringList> activatable = names->activatableServiceNames();
  return activatable.isValid() && activatable.value().contains(service);
}

void PowerEventWatcher::notificationThread() {
  // The loop and the receiver belong to this thread from birth to death.
  QEventLoop loop;
  SleepSignalReceiver receiver(m_sink);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_loop = &loop;
    m_receiver = &receiver;
    m_threadReady = true;
  }
  m_changed.notify_all();
  loop.exec();
  std::lock_guard<std::mutex> lock(m_mutex);
  m_loop = nullptr;
  m_receiver = nullptr;
}  // the lock is let go first, then the receiver and the loop end

void PowerEventWatcher::handOverResume() {
  uint64_t ticket = 0;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopping) return;
    ticket = ++m_resumesRequested;
  }
  QMetaObject::invokeMethod(this, "runPendingResumes", Qt::QueuedConnection);
  std::unique_lock<std::mutex> lock(m_mutex);
  m_changed.wait(lock, [&] { return m_resumesDone >= ticket || m_stopping; });
}

void PowerEventWatcher::runPendingResumes() {
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_resumesDone >= m_resumesRequested) return;
    }
    // After tear-down, or before the main window exists, a resume changes
    // nothing.
    if (m_on && m_app != nullptr && m_frame != nullptr) RunResumeSequence(*m_app, *m_frame);
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      ++m_resumesDone;
    }
    m_changed.notify_all();
  }
}

void PowerEventWatcher::releaseConnection() {
  m_bus.reset();
  if (!m_connectionName.isEmpty()) QDBusConnection::disconnectFromBus(m_connectionName);
  m_connectionName.clear();
}

}  // namespace tv2
