#include <gtest/gtest.h>

#include "KernelTrees.h"
#include "SysfsTree.h"
#include "platform/linux/perf/HwmonReader.h"
#include "platform/linux/perf/PowercapReader.h"

namespace tv2 {
namespace {

TEST(HwmonReader, CoretempGivesPackageAndCoreSensorsOfItsPackage) {
  SysfsTree tree;
  KernelTrees::alderLake(tree);
  // A second package whose device has only core inputs: its package comes
  // from the platform device's number.
  tree.folder("devices/platform/coretemp.1/hwmon/hwmon11");
  tree.link("class/hwmon/hwmon11", "../../devices/platform/coretemp.1/hwmon/hwmon11");
  tree.link("devices/platform/coretemp.1/hwmon/hwmon11/device", "../../../coretemp.1");
  tree.write("class/hwmon/hwmon11/name", "coretemp\n");
  tree.write("class/hwmon/hwmon11/temp2_label", "Core 3\n");
  tree.write("class/hwmon/hwmon11/temp2_input", "50000\n");

  std::vector<KernelTemperatureSensor> sensors;
  std::vector<std::string> inputs;
  HwmonReader(tree.root()).discover(&sensors, &inputs);
  ASSERT_EQ(sensors.size(), 4u);
  ASSERT_EQ(inputs.size(), 4u);
  EXPECT_EQ(sensors[0].kind, KernelSensorKind::kPackage);
  EXPECT_EQ(sensors[0].package, 0);
  EXPECT_EQ(sensors[0].label, "Package id 0");
  // temp10 after temp2: numeric order.
  EXPECT_EQ(sensors[2].kind, KernelSensorKind::kCore);
  EXPECT_EQ(sensors[2].core, 8);
  EXPECT_EQ(sensors[2].package, 0);
  // hwmon11 after hwmon3.
  EXPECT_EQ(sensors[3].package, 1);
  EXPECT_EQ(sensors[3].core, 3);
  int32_t value = 0;
  ASSERT_TRUE(HwmonReader::readInput(inputs[2], &value));
  EXPECT_EQ(value, 41000);
}

TEST(HwmonReader, K10tempPackageComesFromTheNodeFunction) {
  SysfsTree tree;
  KernelTrees::zen3(tree);
  // The second node of a two-socket part, on an older kernel without labels.
  tree.folder("devices/pci0000:00/0000:00:19.3/hwmon/hwmon4");
  tree.link("class/hwmon/hwmon4", "../../devices/pci0000:00/0000:00:19.3/hwmon/hwmon4");
  tree.link("devices/pci0000:00/0000:00:19.3/hwmon/hwmon4/device", "../../../0000:00:19.3");
  tree.write("class/hwmon/hwmon4/name", "k10temp\n");
  tree.write("class/hwmon/hwmon4/temp1_input", "70000\n");

  std::vector<KernelTemperatureSensor> sensors;
  std::vector<std::string> inputs;
  HwmonReader(tree.root()).discover(&sensors, &inputs);
  ASSERT_EQ(sensors.size(), 2u);  // Tccd1 is not a package sensor
  EXPECT_EQ(sensors[0].label, "Tctl");
  EXPECT_EQ(sensors[0].package, 0);
  EXPECT_EQ(sensors[0].core, -1);
  EXPECT_EQ(sensors[1].label, "Tctl");
  EXPECT_EQ(sensors[1].package, 1);
}

TEST(HwmonReader, UnreadableOrImplausibleInputsAreLeftOut) {
  SysfsTree tree;
  KernelTrees::alderLake(tree);
  tree.write("class/hwmon/hwmon3/temp2_input", "hot\n");
  tree.write("class/hwmon/hwmon3/temp10_input", "-300000\n");
  std::vector<KernelTemperatureSensor> sensors;
  std::vector<std::string> inputs;
  HwmonReader(tree.root()).discover(&sensors, &inputs);
  ASSERT_EQ(sensors.size(), 1u);
  EXPECT_EQ(sensors[0].kind, KernelSensorKind::kPackage);
  // A sensor that goes bad after discovery reads false.
  tree.write("class/hwmon/hwmon3/temp1_input", std::string(10000, '4'));
  int32_t value = 0;
  EXPECT_FALSE(HwmonReader::readInput(inputs[0], &value));
  EXPECT_FALSE(HwmonReader::readInput(tree.path("missing"), &value));
}

TEST(PowercapReader, ZonesBelongToTheirPackageAndPsysIsLeftOut) {
  SysfsTree tree;
  KernelTrees::alderLake(tree);
  // A second package with DRAM but no package energy file; a zone with a
  // garbage range; one whose count lies beyond its range. intel-rapl:1 is
  // psys.
  tree.write("class/powercap/intel-rapl:3/name", "package-1\n");
  tree.write("class/powercap/intel-rapl:3:0/name", "dram\n");
  tree.write("class/powercap/intel-rapl:3:0/energy_uj", "77\n");
  tree.write("class/powercap/intel-rapl:3:0/max_energy_range_uj", "65712999613\n");
  tree.write("class/powercap/intel-rapl:0:1/max_energy_range_uj", "lots\n");
  tree.write("class/powercap/intel-rapl:0:0/energy_uj", "262143328851\n");

  std::vector<KernelEnergyZone> zones;
  std::vector<std::string> files;
  PowercapReader(tree.root()).discover(&zones, &files);
  // package-0; package-1 has no energy file; its dram does.
  ASSERT_EQ(zones.size(), 2u);
  EXPECT_EQ(zones[0].kind, KernelEnergyKind::kPackage);
  EXPECT_EQ(zones[0].package, 0);
  EXPECT_EQ(zones[0].maxRangeMicrojoules, 262143328850u);
  EXPECT_EQ(zones[1].kind, KernelEnergyKind::kDram);
  EXPECT_EQ(zones[1].package, 1);
  uint64_t energy = 0;
  ASSERT_TRUE(PowercapReader::readEnergy(files[1], &energy));
  EXPECT_EQ(energy, 77u);

  // Core and uncore map to cores and graphics.
  SysfsTree plain;
  KernelTrees::alderLake(plain);
  zones.clear();
  files.clear();
  PowercapReader(plain.root()).discover(&zones, &files);
  ASSERT_EQ(zones.size(), 3u);
  EXPECT_EQ(zones[1].kind, KernelEnergyKind::kCores);
  EXPECT_EQ(zones[2].kind, KernelEnergyKind::kGraphics);
}

}  // namespace
}  // namespace tv2
