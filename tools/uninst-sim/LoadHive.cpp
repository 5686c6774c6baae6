// The registry of the simulated machine from a Windows 9x registry file or its backup cabinet,
// read whole first so that a file refused leaves the registry as it was. Each key is added under
// its parent, never looked up from the root.
#include "tools/formats/Hive.h"
#include "tools/uninst-sim/Load.h"

namespace uninstsim {

namespace {

// What the keys of a registry file will take in the simulated registry, held to a small multiple
// of the file: a key or a value takes over a hundred bytes there, where a file can hold one in 13.
formats::HiveLimits HiveLimits() {
  formats::HiveLimits limits;
  static_cast<formats::KeyLimits &>(limits) = MachineKeyLimits();
  limits.footprintPerByte = 3;
  limits.footprintBase = size_t(48) << 20;
  return limits;
}

void AddHiveKeys(const formats::Hive &hive) {
  sim::ReserveKeys(hive.keys.size());  // made once at their number: a growing store would hold them three times over
  const sim::KeyRef root = sim::RootKey("HKEY_LOCAL_MACHINE");
  std::vector<sim::KeyRef> refs;
  refs.reserve(hive.keys.size());
  for (const formats::HiveKey &key : hive.keys) {
    sim::KeyRef ref = sim::Subkey(key.parent == formats::HIVE_ROOT ? root : refs[key.parent], key.name);
    for (const formats::HiveValue &value : key.values)
      sim::PutValue(ref, value.name, value.ulType, value.data);
    refs.push_back(ref);
  }
}

}  // namespace

std::string LoadHiveBytes(const std::string &bytes, const std::string &name) {
  formats::Hive hive;
  std::string error = formats::ReadHive(bytes, HiveLimits(), &hive);
  if (!error.empty())
    return name + ": " + error;
  AddHiveKeys(hive);
  return "";
}

std::string LoadHive(const std::string &path) {
  std::string bytes;
  std::string error = formats::ReadHiveFile(path, &bytes);
  return error.empty() ? LoadHiveBytes(bytes, path) : error;
}

}  // namespace uninstsim
