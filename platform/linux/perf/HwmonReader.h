#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/KernelCounterService.h"

namespace tv2 {

// Finds the processor temperature inputs under <sysRoot>/class/hwmon and
// reads them; hwmon files are readable by every user.
//
// Which package a sensor belongs to:
// - coretemp: one hwmon device per package. "Package id N" names physical
//   package N; its "Core N" inputs (core id N) belong to the same package.
//   A device without a package input takes the number of its platform
//   device ("coretemp.N", the kernel's package or die number).
// - k10temp: one hwmon device per node, the node's PCI function
//   0000:00:(18+N).3, so node N = package N (one node per package since
//   Zen 2). Tctl and Tdie are package sensors; an unlabelled temp1 (older
//   kernels) is Tctl. A device whose PCI address cannot be read is package 0.
//
// Threads: any; the object holds only the root.
class HwmonReader {
 public:
  explicit HwmonReader(std::string sysRoot);

  // Appends each sensor whose input reads now, with the path of its input
  // file at the same position of *inputs.
  void discover(std::vector<KernelTemperatureSensor>* sensors, std::vector<std::string>* inputs) const;

  // One temperature in millidegrees Celsius; false when the file cannot be
  // read or holds no plausible temperature.
  static bool readInput(const std::string& path, int32_t* milliCelsius);

 private:
  void discoverCoretemp(const std::string& folder, std::vector<KernelTemperatureSensor>* sensors,
                        std::vector<std::string>* inputs) const;
  void discoverK10temp(const std::string& folder, std::vector<KernelTemperatureSensor>* sensors,
                       std::vector<std::string>* inputs) const;

  std::string m_sysRoot;
};

}  // namespace tv2
