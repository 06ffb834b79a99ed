#include "frame/SignalCloser.h"

#include <QSocketNotifier>

namespace tv2 {

SignalCloser::SignalCloser(int fd, std::function<int()> readSignal, std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), m_readSignal(std::move(readSignal)), m_onSignal(std::move(onSignal)) {
  if (fd < 0) return;
  m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
  connect(m_notifier, &QSocketNotifier::activated, this, &SignalCloser::drain);
}

SignalCloser::~SignalCloser() = default;

void SignalCloser::drain() {
  // Everything pending is taken, so the descriptor is quiet again and a
  // burst of signals is one wake-up.
  for (int signal = m_readSignal(); signal > 0; signal = m_readSignal()) {
    if (m_onSignal) m_onSignal(signal);
  }
}

}  // namespace tv2
