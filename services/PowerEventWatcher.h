#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

#include <QDBusConnection>
#include <QObject>
#include <QString>

class QEventLoop;

namespace tv2 {

class CTarvelle2App;
class EventSink;
class MessageWindow;
class SleepSignalReceiver;

// Watches systemd-logind's PrepareForSleep signal on the system bus and,
// after each resume from suspend, runs the resume sequence (ResumeSequence.h)
// on the user-interface thread while the notification thread waits for it.
// Without a bus or without logind set-up answers false and the program
// simply does not react to resume.
//
// Threads: constructed, set up, torn down and destroyed on the user-interface
// thread, which alone touches m_app, m_frame, m_on and the bus connection.
// The signal arrives on the watcher's own notification thread (a plain
// std::thread running a Qt event loop), which shares with the user-interface
// thread only the fields under m_mutex and the sink (reference counted).
class PowerEventWatcher : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* kLogindService = "org.freedesktop.login1";
  static constexpr const char* kLogindPath = "/org/freedesktop/login1";
  static constexpr const char* kLogindInterface = "org.freedesktop.login1.Manager";

  PowerEventWatcher();
  ~PowerEventWatcher() override;  // tears down when still on
  PowerEventWatcher(const PowerEventWatcher&) = delete;
  PowerEventWatcher& operator=(const PowerEventWatcher&) = delete;

  // Subscribes on the bus at busAddress (empty: the system bus). frame is
  // the main window, usually still null at start-up (setMainWindow later).
  // True when the subscription is in place.
  bool setUp(CTarvelle2App& app, MessageWindow* frame = nullptr, const QString& busAddress = {});
  // Ends the subscription and the notification thread; a resume being
  // handed over is let go. Nothing happens when the watcher is off.
  void tearDown();
  bool isOn() const { return m_on; }

  // The main window the resume sequence talks to; null while there is none,
  // and a resume then changes nothing. Given the window's QObject as well,
  // the watcher forgets the window by itself when that object is destroyed,
  // so a resume between closing the window and tear-down finds none.
  void setMainWindow(MessageWindow* frame, QObject* frameObject = nullptr);

 private:
  Q_INVOKABLE void runPendingResumes();  // user-interface thread
  bool logindPresent(QDBusConnection& bus) const;
  void notificationThread();
  void handOverResume();  // notification thread
  void releaseConnection();

  CTarvelle2App* m_app = nullptr;
  MessageWindow* m_frame = nullptr;
  QMetaObject::Connection m_frameDestroyed;
  bool m_on = false;
  QString m_connectionName;  // of a bus connection of our own, else empty
  std::optional<QDBusConnection> m_bus;
  EventSink* m_sink = nullptr;  // our reference; set before the thread starts, released after it ended
  std::thread m_thread;

  std::mutex m_mutex;
  std::condition_variable m_changed;
  // Guarded by m_mutex: what the notification thread publishes once its
  // event loop and receiver exist, the stop request, and the resumes asked
  // for and done (each delivery waits until its own is done).
  QEventLoop* m_loop = nullptr;
  SleepSignalReceiver* m_receiver = nullptr;
  bool m_threadReady = false;
  bool m_stopping = false;
  uint64_t m_resumesRequested = 0;
  uint64_t m_resumesDone = 0;
};

}  // namespace tv2
