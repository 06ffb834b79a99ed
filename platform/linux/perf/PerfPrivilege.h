#pragma once

namespace tv2 {

// What lets a process open CPU-wide events whatever perf_event_paranoid
// says: root, or the CAP_PERFMON or CAP_SYS_ADMIN capability in effect.
struct PerfPrivilege {
  bool root = false;
  bool perfmon = false;
  bool sysAdmin = false;

  bool any() const { return root || perfmon || sysAdmin; }
  // The calling process's effective user and capabilities (capget).
  static PerfPrivilege current();
};

}  // namespace tv2
