// Writes a machine image's registry as the Windows 9x registry file Windows would keep:
// sample-hive REGISTRY.REG SYSTEM.DAT. HKEY_DYN_DATA stays out, as Windows builds it at each boot.
#include <fstream>
#include <iostream>
#include <iterator>

#include "tests/support/HiveWriter.h"
#include "tools/uninst-sim/Load.h"

int main(int argc, char **argv) {
  if (argc != 3) {
    std::cerr << "usage: sample-hive REGISTRY.REG SYSTEM.DAT\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string error;
  sim::Reset();
  if (!in || !uninstsim::ImportRegistry(image, &error)) {
    std::cerr << "sample-hive: " << argv[1] << ": " << (in ? error : "cannot be read") << "\n";
    return 2;
  }
  std::vector<sim::RegistryKey> machineKeys;
  for (const sim::RegistryKey &key : sim::RegistryKeys()) {
    if (key.path.rfind("HKEY_LOCAL_MACHINE\\", 0) == 0)
      machineKeys.push_back(key);
  }
  std::ofstream out(argv[2], std::ios::binary);
  out << hive::HiveImage(machineKeys);
  return out ? 0 : 2;
}
