// The record of what the platform calls changed since Reset(), kept as they change it (the machine
// is never copied for it), and the snapshot of the whole machine that tests compare. Relies on
// the key tree, the drive and the path rules.
#include "platform/sim/SimChanges.h"

#include <algorithm>

#include "platform/sim/SimPathRules.h"
#include "platform/sim/SimRegistry.h"

namespace sim {

void RecordRemovedKey(KeyId key) {
  if (const RegRoot *pRoot = RootOf(key))
    CollectSubtree(*pRoot, key, &M().changes.removedKeys);
}

void RecordRemovedValue(KeyId key, const RegValue &value) {
  if (const RegRoot *pRoot = RootOf(key))
    M().changes.removedValues.push_back(
        RemovedValue{KeyPath(*pRoot, key), RegistryValue{value.name, value.dwType, value.data}});
}

void RecordWrite(const std::string &winPath, const Resolved &r) {
  Machine &m = M();
  if (m.writtenIndex.count(r.hostPath) != 0)
    return;
  WrittenFile written{winPath, r.fExists, "", ""};
  EnsureRead(r.hostPath);
  if (r.fExists)
    ReadHostFile(r.hostPath, &written.before);
  m.writtenIndex[r.hostPath] = m.changes.writtenFiles.size();
  m.changes.writtenFiles.push_back(written);
}

void RecordDeletedFile(const std::string &winPath, const std::string &bytes) {
  M().changes.deletedFiles.push_back(winPath);
  M().changes.deletedBytes.push_back(bytes);
}

void RecordSearch(const std::string &spec) {
  std::string searched = NormalPath(spec.substr(0, spec.find_last_of("\\/") + 1));
  std::vector<std::string> &searchedFolders = M().changes.searchedFolders;
  if (std::find(searchedFolders.begin(), searchedFolders.end(), searched) == searchedFolders.end())
    searchedFolders.push_back(searched);
}

Snapshot TakeSnapshot() {
  Snapshot snapshot;
  snapshot.keys = RegistryKeys();
  for (const std::string &file : ListFiles())
    ReadFile(file, &snapshot.files[file]);
  return snapshot;
}

Changes MachineChanges() {
  Changes changes = M().changes;
  for (const auto &written : M().writtenIndex) {
    WrittenFile &file = changes.writtenFiles[written.second];
    if (!ReadHostFile(written.first, &file.after))
      file.after.clear();
  }
  return changes;
}

}  // namespace sim
