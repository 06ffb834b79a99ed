#pragma once

#include <cstdint>

namespace tv2 {

class CKMDriver;

// Programming steps of the performance-monitoring units, run by the catalogue
// on the user-interface thread with the driver lock held and the thread pinned
// to the logical processor being programmed. Counters are never stopped or
// frozen afterwards: a select counts from the moment it is written with its
// enable bit, and only the reset at exit (or after the in-use question) clears
// the registers again.

// The low half of IA32_PERF_GLOBAL_CTRL that enables every general counter of
// a processor with that many counters: 0x3, 0xF, 0x3F or 0xFF for 2, 4, 6 or
// 8; 0 for any other count, whose global enable is then left untouched.
uint32_t generalCounterEnableBits(int32_t generalCounterCount);

// Turns the three Intel fixed counters on (instructions, core cycles,
// reference cycles, each in kernel and user mode, no interrupt). The global
// enable is written, with the fixed bits 32-34 set and the general bits as
// above, only for 2, 4, 6 or 8 general counters. A register that cannot be
// read is not written: writing back the 0xFFFFFFFF a failed read leaves would
// set reserved bits.
void EnableFixedCounters(CKMDriver& driver, int32_t generalCounterCount);

// Writes an event select with the new low word and the high half as read
// (Intel general counters and AMD core counters). A select whose read fails
// is not written, as for the fixed counters. The outcome is not checked: a
// select that does not take shows as a counter that never produces a point.
void ProgramEventSelect(CKMDriver& driver, uint32_t selectRegister, uint32_t lowWord);

}  // namespace tv2
