// REGEDIT4 images of the simulated registry, in the form Windows 98's regedit writes them.

#include "platform/sim/RegeditText.h"
#include "platform/sim/SimMachine.h"

namespace sim {

namespace {

std::string ValueLine(const RegistryValue &value) {
  return regedit::ValueLine(value.name, value.dwType, value.data);
}

void CollectKey(const RegRoot &root, const RegKey *pKey, std::vector<RegistryKey> *pKeys) {
  RegistryKey key{KeyPath(root, pKey), {}};
  for (const RegValue &value : pKey->values)
    key.values.push_back(RegistryValue{value.name, value.dwType, value.data});
  pKeys->push_back(std::move(key));
  for (const auto &child : pKey->children)
    CollectKey(root, child.get(), pKeys);
}

}  // namespace

const RegRoot *RootOf(const RegKey *pKey) {
  while (pKey->pParent != nullptr)
    pKey = pKey->pParent;
  for (const RegRoot &root : M().roots) {
    if (root.key.get() == pKey)
      return &root;
  }
  return nullptr;
}

void RecordRemovedKey(const RegKey *pKey) {
  if (const RegRoot *pRoot = RootOf(pKey))
    CollectKey(*pRoot, pKey, &M().changes.removedKeys);
}

void RecordRemovedValue(const RegKey *pKey, const RegValue &value) {
  if (const RegRoot *pRoot = RootOf(pKey))
    M().changes.removedValues.push_back(
        RemovedValue{KeyPath(*pRoot, pKey), RegistryValue{value.name, value.dwType, value.data}});
}

bool ImportRegistry(const std::string &image, std::string *pError) {
  std::vector<regedit::Operation> ops;
  std::string error;
  if (!regedit::ParseImage(image, &ops, &error)) {
    if (pError)
      *pError = error;
    return false;
  }
  for (const regedit::Operation &op : ops) {
    RegKey *pKey = CreatePath(AddRoot(op.root).key.get(), op.path);
    if (op.fValue)
      PutValue(pKey, op.name, op.ulType, op.data);
  }
  return true;
}

std::vector<RegistryKey> RegistryKeys() {
  std::vector<RegistryKey> keys;
  for (const RegRoot &root : M().roots) {
    for (const auto &child : root.key->children)
      CollectKey(root, child.get(), &keys);
  }
  return keys;
}

std::string RegeditImage(const std::vector<RegistryKey> &keys) {
  std::string out = "REGEDIT4\r\n\r\n";
  for (const RegistryKey &key : keys) {
    out += "[" + key.path + "]\r\n";
    for (const RegistryValue &value : key.values)
      out += ValueLine(value) + "\r\n";
    out += "\r\n";
  }
  return out;
}

std::string ExportRegistry() {
  return RegeditImage(RegistryKeys());
}

}  // namespace sim
