#include "platform/linux/perf/PerfPrivilege.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

namespace tv2 {

namespace {

// Older headers lack CAP_PERFMON (kernel 5.8).
constexpr int kCapPerfmon = 38;
constexpr int kCapSysAdmin = 21;

bool has(const __user_cap_data_struct* data, int capability) {
  return (data[capability / 32].effective & (uint32_t{1} << (capability % 32))) != 0;
}

}  // namespace

PerfPrivilege PerfPrivilege::current() {
  PerfPrivilege privilege;
  privilege.root = ::geteuid() == 0;
  __user_cap_header_struct header{};
  header.version = _LINUX_CAPABILITY_VERSION_3;
  header.pid = 0;
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (::syscall(SYS_capget, &header, data) == 0) {
    privilege.perfmon = has(data, kCapPerfmon);
    privilege.sysAdmin = has(data, kCapSysAdmin);
  }
  return privilege;
}

}  // namespace tv2
