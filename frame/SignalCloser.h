#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace tv2 {

// Watches a file descriptor that turns readable when a termination signal
// is pending (the signals are blocked and read as data, never handled
// asynchronously) and hands every signal read to onSignal on the
// user-interface thread, between events.
class SignalCloser : public QObject {
  Q_OBJECT

 public:
  // readSignal takes one pending signal without blocking: its number, or 0
  // when none is left.
  SignalCloser(int fd, std::function<int()> readSignal, std::function<void(int)> onSignal, QObject* parent = nullptr);
  ~SignalCloser() override;

 private:
  void drain();

  QSocketNotifier* m_notifier = nullptr;  // child object, owned by Qt parenting
  std::function<int()> m_readSignal;
  std::function<void(int)> m_onSignal;
};

}  // namespace tv2
