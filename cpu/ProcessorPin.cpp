#include "cpu/ProcessorPin.h"

#include "cpu/LogicalProcessorRecord.h"
#include "platform/ProcessorService.h"

namespace tv2 {

ProcessorPin::ProcessorPin(ProcessorService& processors, bool groupMode, int32_t group, int32_t index)
    : m_processors(processors), m_groupMode(groupMode) {
  if (m_groupMode) {
    if (!m_processors.getThreadGroupAffinity(&m_savedGroup)) return;
  } else {
    uint64_t systemMask = 0;
    if (!m_processors.getProcessAffinityMask(&m_savedProcessMask, &systemMask)) return;
  }
  m_pinned = pinCallingThread(m_processors, m_groupMode, group, index);
}

bool ProcessorPin::pinCallingThread(ProcessorService& processors, bool groupMode, int32_t group, int32_t index) {
  uint64_t bit = uint64_t{1} << (static_cast<uint32_t>(index) & 63);
  if (groupMode) {
    GroupAffinity current;
    if (!processors.getThreadGroupAffinity(&current)) return false;
    return processors.setThreadGroupAffinity(GroupAffinity{bit, static_cast<uint16_t>(group)});
  }
  uint64_t processMask = 0;
  uint64_t systemMask = 0;
  if (!processors.getProcessAffinityMask(&processMask, &systemMask)) return false;
  return processors.setProcessAffinityMask(bit);
}

ProcessorPin::ProcessorPin(ProcessorService& processors, bool groupMode,
                           const LogicalProcessorRecord& processor)
    : ProcessorPin(processors, groupMode, processor.group, processor.index) {}

ProcessorPin::~ProcessorPin() {
  if (!m_pinned) return;
  if (m_groupMode) {
    m_processors.setThreadGroupAffinity(m_savedGroup);
  } else {
    m_processors.setProcessAffinityMask(m_savedProcessMask);
  }
}

}  // namespace tv2
