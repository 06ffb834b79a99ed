#pragma once

#include <QObject>

namespace tv2 {

class EventSink;

// Lives on the watcher's notification thread and turns logind's
// PrepareForSleep signal into power events for the sink: true (going to
// sleep) is "entering suspend", false (woken up) "resume from suspend".
class SleepSignalReceiver : public QObject {
  Q_OBJECT

 public:
  // The sink is observed; the watcher's own reference keeps it alive until
  // this thread has ended.
  explicit SleepSignalReceiver(EventSink* sink) : m_sink(sink) {}

 public Q_SLOTS:
  void onPrepareForSleep(bool start);

 private:
  EventSink* const m_sink;
};

}  // namespace tv2
