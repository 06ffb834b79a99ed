#pragma once

#include <cstdint>

namespace tv2 {

// A processor group and a mask of processors within it (bit i = processor i of
// the group). Groups hold at most 64 logical processors.
struct GroupAffinity {
  uint64_t mask = 0;
  uint16_t group = 0;
};

// The four registers CPUID answers with.
struct CpuidRegs {
  uint32_t eax = 0;
  uint32_t ebx = 0;
  uint32_t ecx = 0;
  uint32_t edx = 0;
};

// Busy times of one logical processor since boot, in 100 ns units. Kernel time
// includes idle time.
struct ProcessorTimes {
  int64_t idle = 0;
  int64_t kernel = 0;
  int64_t user = 0;
};

// {major, minor, build, revision} of the program's own file.
struct FileVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;
  uint32_t revision = 0;
};

}  // namespace tv2
