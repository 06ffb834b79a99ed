#include "services/SleepSignalReceiver.h"

#include "services/EventSink.h"

namespace tv2 {

void SleepSignalReceiver::onPrepareForSleep(bool start) {
  // The delivery holds its own reference while it runs.
  m_sink->AddRef();
  m_sink->Indicate({EventSink::Event{true, true, start ? EventSink::kEnteringSuspend : EventSink::kResumeFromSuspend}});
  m_sink->Release();
}

}  // namespace tv2
