#include "cpu/ModelGroups.h"

namespace tv2 {
namespace {

struct Entry {
  int32_t code;
  ModelGroup group;
};

constexpr Entry kSupported[] = {
    {0x10106A0, ModelGroup::Intel_B133}, {0x10106E0, ModelGroup::Intel_B133},
    {0x1020650, ModelGroup::Intel_B133}, {0x10206C0, ModelGroup::Intel_B133},
    {0x10206E0, ModelGroup::Intel_B133}, {0x10206F0, ModelGroup::Intel_B133},
    {0x10206A0, ModelGroup::Intel_SNB},  {0x10206D0, ModelGroup::Intel_SNB},
    {0x10306A0, ModelGroup::Intel_SNB},  {0x10306C0, ModelGroup::Intel_SNB},
    {0x10306E0, ModelGroup::Intel_SNB},  {0x10306F0, ModelGroup::Intel_SNB},
    {0x1040650, ModelGroup::Intel_SNB},  {0x1040660, ModelGroup::Intel_SNB},
    {0x10106C0, ModelGroup::Intel_FSB},  {0x1020660, ModelGroup::Intel_FSB},
    {0x1030650, ModelGroup::Intel_FSB},  {0x1030660, ModelGroup::Intel_FSB},
    {0x2600F00, ModelGroup::AMD_BD},     {0x2600F10, ModelGroup::AMD_BD},
    {0x2600F20, ModelGroup::AMD_BD},     {0x2610F00, ModelGroup::AMD_TN},
    {0x2610F10, ModelGroup::AMD_TN},     {0x2610F30, ModelGroup::AMD_TN},
    {kCodeAmdKaveri, ModelGroup::AMD_KV}, {kCodeAmdKabini, ModelGroup::AMD_KV},
};

}  // namespace

ModelGroup classifyProcessor(int32_t processorCode) {
  for (const Entry& entry : kSupported) {
    if (entry.code == processorCode) return entry.group;
  }
  return ModelGroup::kUnlisted;
}

const char* modelGroupName(ModelGroup g) {
  switch (g) {
    case ModelGroup::Intel_B133: return "Intel_B133";
    case ModelGroup::Intel_SNB: return "Intel_SNB";
    case ModelGroup::Intel_FSB: return "Intel_FSB";
    case ModelGroup::AMD_BD: return "AMD_BD";
    case ModelGroup::AMD_TN: return "AMD_TN";
    case ModelGroup::AMD_KV: return "AMD_KV";
    case ModelGroup::kUnlisted: break;
  }
  return "unlisted";
}

}  // namespace tv2
