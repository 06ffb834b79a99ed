#include "platform/linux/perf/HwmonReader.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "platform/linux/perf/SysfsText.h"

namespace tv2 {

namespace {

// Below absolute zero or above 1000 °C is not a reading.
constexpr int64_t kLowestMilliCelsius = -273150;
constexpr int64_t kHighestMilliCelsius = 1000000;

struct Input {
  int number = 0;     // N of tempN_input
  std::string label;  // tempN_label; empty without one
};

// The tempN inputs of a hwmon folder in number order.
std::vector<Input> inputsOf(const std::string& folder) {
  std::vector<Input> inputs;
  for (const std::string& name : SysfsText::list(folder)) {
    constexpr std::string_view kPrefix = "temp";
    constexpr std::string_view kSuffix = "_input";
    std::string_view view(name);
    if (view.size() <= kPrefix.size() + kSuffix.size() || view.substr(0, kPrefix.size()) != kPrefix ||
        view.substr(view.size() - kSuffix.size()) != kSuffix)
      continue;
    int64_t number = 0;
    if (!SysfsText::parseInt(view.substr(kPrefix.size(), view.size() - kPrefix.size() - kSuffix.size()), &number) ||
        number <= 0 || number > 10000)
      continue;
    Input input;
    input.number = static_cast<int>(number);
    SysfsText::readTrimmed(folder + "/temp" + std::to_string(number) + "_label", &input.label);
    inputs.push_back(std::move(input));
  }
  std::sort(inputs.begin(), inputs.end(), [](const Input& a, const Input& b) { return a.number < b.number; });
  return inputs;
}

// The number after `prefix` in `text` ("Package id 1", "coretemp.0").
bool numberAfter(std::string_view text, std::string_view prefix, int* out) {
  if (text.size() <= prefix.size() || text.substr(0, prefix.size()) != prefix) return false;
  int64_t value = 0;
  if (!SysfsText::parseInt(text.substr(prefix.size()), &value) || value < 0 || value >= (int64_t{1} << 30))
    return false;
  *out = static_cast<int>(value);
  return true;
}

std::string inputPath(const std::string& folder, int number) {
  return folder + "/temp" + std::to_string(number) + "_input";
}

bool readable(const std::string& path) {
  int32_t value = 0;
  return HwmonReader::readInput(path, &value);
}

}  // namespace

HwmonReader::HwmonReader(std::string sysRoot) : m_sysRoot(std::move(sysRoot)) {}

bool HwmonReader::readInput(const std::string& path, int32_t* milliCelsius) {
  int64_t value = 0;
  if (!SysfsText::readInt(path, &value) || value < kLowestMilliCelsius || value > kHighestMilliCelsius)
    return false;
  *milliCelsius = static_cast<int32_t>(value);
  return true;
}

void HwmonReader::discover(std::vector<KernelTemperatureSensor>* sensors, std::vector<std::string>* inputs) const {
  const std::string root = m_sysRoot + "/class/hwmon";
  std::vector<std::pair<int, std::string>> devices;
  for (const std::string& name : SysfsText::list(root)) {
    int number = 0;
    if (numberAfter(name, "hwmon", &number)) devices.emplace_back(number, name);
  }
  // hwmon10 after hwmon9.
  std::sort(devices.begin(), devices.end());
  for (const auto& [number, name] : devices) {
    const std::string folder = root + "/" + name;
    std::string driver;
    if (!SysfsText::readTrimmed(folder + "/name", &driver)) continue;
    if (driver == "coretemp") discoverCoretemp(folder, sensors, inputs);
    if (driver == "k10temp") discoverK10temp(folder, sensors, inputs);
  }
}

void HwmonReader::discoverCoretemp(const std::string& folder, std::vector<KernelTemperatureSensor>* sensors,
                                   std::vector<std::string>* inputs) const {
  std::vector<Input> found = inputsOf(folder);
  int package = -1;
  for (const Input& input : found) {
    if (numberAfter(input.label, "Package id ", &package)) break;
  }
  if (package < 0 && !numberAfter(SysfsText::linkName(folder + "/device"), "coretemp.", &package)) package = 0;
  for (const Input& input : found) {
    KernelTemperatureSensor sensor;
    sensor.package = package;
    sensor.label = input.label;
    int number = 0;
    if (numberAfter(input.label, "Package id ", &number)) {
      sensor.kind = KernelSensorKind::kPackage;
      sensor.package = number;
    } else if (numberAfter(input.label, "Core ", &number)) {
      sensor.kind = KernelSensorKind::kCore;
      sensor.core = number;
    } else {
      continue;
    }
    const std::string path = inputPath(folder, input.number);
    if (!readable(path)) continue;
    sensors->push_back(std::move(sensor));
    inputs->push_back(path);
  }
}

void HwmonReader::discoverK10temp(const std::string& folder, std::vector<KernelTemperatureSensor>* sensors,
                                  std::vector<std::string>* inputs) const {
  // "0000:00:19.3": domain, bus, slot 0x18 + node, function 3.
  int package = 0;
  std::string device = SysfsText::linkName(folder + "/device");
  size_t dot = device.rfind('.');
  size_t colon = device.rfind(':');
  uint64_t slot = 0;
  if (dot != std::string::npos && colon != std::string::npos && colon < dot &&
      SysfsText::parseUnsigned("0x" + device.substr(colon + 1, dot - colon - 1), &slot) && slot >= 0x18 &&
      slot < 0x20)
    package = static_cast<int>(slot - 0x18);
  for (const Input& input : inputsOf(folder)) {
    std::string label = input.label;
    if (label.empty() && input.number == 1) label = "Tctl";
    if (label != "Tctl" && label != "Tdie") continue;
    const std::string path = inputPath(folder, input.number);
    if (!readable(path)) continue;
    sensors->push_back(KernelTemperatureSensor{KernelSensorKind::kPackage, package, -1, label});
    inputs->push_back(path);
  }
}

}  // namespace tv2
