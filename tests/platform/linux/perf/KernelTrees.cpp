#include "KernelTrees.h"

namespace tv2 {

namespace {

const char* const kIntelEvents[] = {"branch-instructions", "branch-misses", "bus-cycles",  "cache-misses",
                                    "cache-references",    "cpu-cycles",    "instructions", "ref-cycles"};

void coreEvents(const SysfsTree& tree, const std::string& pmu, bool refCycles) {
  for (const char* name : kIntelEvents) {
    if (!refCycles && std::string(name) == "ref-cycles") continue;
    tree.write("bus/event_source/devices/" + pmu + "/events/" + name, "event=0x3c\n");
  }
}

}  // namespace

void KernelTrees::cpus(const SysfsTree& tree, int first, int last, int package, int firstCore, int threads) {
  for (int cpu = first; cpu <= last; ++cpu) {
    std::string topology = "devices/system/cpu/cpu" + std::to_string(cpu) + "/topology/";
    tree.write(topology + "physical_package_id", std::to_string(package) + "\n");
    tree.write(topology + "core_id", std::to_string(firstCore + (cpu - first) / threads) + "\n");
  }
}

void KernelTrees::pmu(const SysfsTree& tree, const std::string& name, int type,
                      std::initializer_list<std::pair<std::string, std::string>> events) {
  std::string folder = "bus/event_source/devices/" + name + "/";
  tree.write(folder + "type", std::to_string(type) + "\n");
  for (const auto& [file, content] : events) tree.write(folder + "events/" + file, content);
}

void KernelTrees::alderLake(const SysfsTree& tree) {
  tree.write("devices/system/cpu/online", "0-15\n");
  cpus(tree, 0, 7, 0, 0, 2);
  cpus(tree, 8, 15, 0, 8, 1);
  tree.write("proc/sys/kernel/perf_event_paranoid", "2\n");
  pmu(tree, "cpu_core", 8, {});
  coreEvents(tree, "cpu_core", true);
  tree.write("bus/event_source/devices/cpu_core/cpus", "0-7\n");
  pmu(tree, "cpu_atom", 10, {});
  coreEvents(tree, "cpu_atom", true);
  tree.write("bus/event_source/devices/cpu_atom/cpus", "8-15\n");
  pmu(tree, "msr", 9, {{"aperf", "event=0x01\n"}, {"mperf", "event=0x02\n"}, {"tsc", "event=0x00\n"},
                       {"smi", "event=0x04\n"}, {"pperf", "event=0x03\n"}});
  tree.write("bus/event_source/devices/msr/format/event", "config:0-63\n");
  const char* scale = "2.3283064365386962890625e-10\n";
  pmu(tree, "power", 11, {{"energy-pkg", "event=0x02\n"}, {"energy-pkg.scale", scale}, {"energy-pkg.unit", "Joules\n"},
                          {"energy-cores", "event=0x01\n"}, {"energy-cores.scale", scale},
                          {"energy-cores.unit", "Joules\n"}, {"energy-gpu", "event=0x04\n"},
                          {"energy-gpu.scale", scale}, {"energy-gpu.unit", "Joules\n"},
                          {"energy-psys", "event=0x05\n"}});
  tree.write("bus/event_source/devices/power/format/event", "config:0-7\n");
  tree.write("bus/event_source/devices/power/cpumask", "0\n");
  pmu(tree, "software", 1, {});

  tree.folder("devices/platform/coretemp.0/hwmon/hwmon3");
  tree.link("class/hwmon/hwmon3", "../../devices/platform/coretemp.0/hwmon/hwmon3");
  tree.link("devices/platform/coretemp.0/hwmon/hwmon3/device", "../../../coretemp.0");
  std::string hwmon = "class/hwmon/hwmon3/";
  tree.write(hwmon + "name", "coretemp\n");
  tree.write(hwmon + "temp1_label", "Package id 0\n");
  tree.write(hwmon + "temp1_input", "47000\n");
  tree.write(hwmon + "temp2_label", "Core 0\n");
  tree.write(hwmon + "temp2_input", "45000\n");
  tree.write(hwmon + "temp10_label", "Core 8\n");
  tree.write(hwmon + "temp10_input", "41000\n");
  tree.write("class/hwmon/hwmon0/name", "acpitz\n");
  tree.write("class/hwmon/hwmon0/temp1_input", "27800\n");

  std::string rapl = "class/powercap/";
  tree.write(rapl + "intel-rapl/enabled", "1\n");
  tree.write(rapl + "intel-rapl:0/name", "package-0\n");
  tree.write(rapl + "intel-rapl:0/energy_uj", "123456789\n");
  tree.write(rapl + "intel-rapl:0/max_energy_range_uj", "262143328850\n");
  tree.write(rapl + "intel-rapl:0:0/name", "core\n");
  tree.write(rapl + "intel-rapl:0:0/energy_uj", "5000\n");
  tree.write(rapl + "intel-rapl:0:0/max_energy_range_uj", "262143328850\n");
  tree.write(rapl + "intel-rapl:0:1/name", "uncore\n");
  tree.write(rapl + "intel-rapl:0:1/energy_uj", "7000\n");
  tree.write(rapl + "intel-rapl:0:1/max_energy_range_uj", "262143328850\n");
  tree.write(rapl + "intel-rapl:1/name", "psys\n");
  tree.write(rapl + "intel-rapl:1/energy_uj", "1\n");
  tree.write(rapl + "intel-rapl:1/max_energy_range_uj", "262143328850\n");
}

void KernelTrees::zen3(const SysfsTree& tree) {
  tree.write("devices/system/cpu/online", "0-15\n");
  cpus(tree, 0, 7, 0, 0, 1);
  cpus(tree, 8, 15, 0, 0, 1);
  tree.write("proc/sys/kernel/perf_event_paranoid", "1\n");
  pmu(tree, "cpu", 4, {{"stalled-cycles-backend", "event=0x1d8\n"}, {"stalled-cycles-frontend", "event=0xa9\n"}});
  coreEvents(tree, "cpu", false);
  pmu(tree, "power", 13, {{"energy-pkg", "event=0x02\n"}, {"energy-pkg.scale", "2.3283064365386962890625e-10\n"},
                          {"energy-pkg.unit", "Joules\n"}});
  tree.write("bus/event_source/devices/power/format/event", "config:0-7\n");
  tree.write("bus/event_source/devices/power/cpumask", "0\n");
  pmu(tree, "msr", 12, {{"aperf", "event=0x01\n"}, {"mperf", "event=0x02\n"}, {"tsc", "event=0x00\n"}});

  tree.folder("devices/pci0000:00/0000:00:18.3/hwmon/hwmon2");
  tree.link("class/hwmon/hwmon2", "../../devices/pci0000:00/0000:00:18.3/hwmon/hwmon2");
  tree.link("devices/pci0000:00/0000:00:18.3/hwmon/hwmon2/device", "../../../0000:00:18.3");
  std::string hwmon = "class/hwmon/hwmon2/";
  tree.write(hwmon + "name", "k10temp\n");
  tree.write(hwmon + "temp1_label", "Tctl\n");
  tree.write(hwmon + "temp1_input", "61250\n");
  tree.write(hwmon + "temp3_label", "Tccd1\n");
  tree.write(hwmon + "temp3_input", "58000\n");

  tree.write("class/powercap/intel-rapl:0/name", "package-0\n");
  tree.write("class/powercap/intel-rapl:0/energy_uj", "99\n");
  tree.write("class/powercap/intel-rapl:0/max_energy_range_uj", "65532610987\n");
}

void KernelTrees::virtualMachine(const SysfsTree& tree) {
  tree.write("devices/system/cpu/online", "0-1\n");
  cpus(tree, 0, 1, 0, 0, 1);
  tree.write("proc/sys/kernel/perf_event_paranoid", "2\n");
  pmu(tree, "software", 1, {});
  pmu(tree, "tracepoint", 2, {});
  pmu(tree, "msr", 9, {{"tsc", "event=0x00\n"}, {"smi", "event=0x04\n"}});
  tree.write("bus/event_source/devices/msr/format/event", "config:0-63\n");
}

}  // namespace tv2
