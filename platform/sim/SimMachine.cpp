// The machine record, Reset(), the fault plan and call counters, handles and problems of the
// simulated Windows 98/ME machine. Relies on the path rules alone, but for Reset(), which hands
// the registry and the drive to their own resets.
#include "platform/sim/SimMachine.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>

#include "platform/sim/SimDrive.h"
#include "platform/sim/SimRegistry.h"

namespace sim {

Machine &M() {
  static Machine machine;
  return machine;
}

bool Fails(Call kind, const std::string &path, os::DWORD *pCode) {
  Machine &m = M();
  ++m.counts[kind];
  ++m.counts[Call::Any];
  m.callLog.push_back(kind);
  bool fFails = false;
  for (Machine::PlannedFault &planned : m.faults) {
    const Fault &fault = planned.fault;
    if (fault.kind != Call::Any && fault.kind != kind)
      continue;
    if (!fault.path.empty() && !SameName(fault.path, path))
      continue;
    ++planned.seen;
    if (planned.seen == fault.n || (fault.fPersistent && planned.seen > fault.n)) {
      if (!fFails)
        *pCode = fault.code;
      fFails = true;
    }
  }
  return fFails;
}

void SetLastError(os::DWORD dwCode) {
  M().dwLastError = dwCode;
}

std::uintptr_t NewHandle() {
  std::uintptr_t handle = M().nextHandle;
  M().nextHandle += 4;
  return handle;
}

void Problem(const std::string &what) {
  M().problems.push_back(what);
}

void CloseAllFiles() {
  Machine &m = M();
  for (auto &view : m.views)
    munmap(const_cast<void *>(view.first), view.second.size);
  for (auto &file : m.files)
    close(file.second.fd);
  for (auto &mapping : m.mappings)
    close(mapping.second.fd);
  m.views.clear();
  m.files.clear();
  m.mappings.clear();
}

void Reset() {
  Machine &m = M();
  CloseAllFiles();
  std::string oldDrive = m.driveRoot;
  m = Machine();
  m.driveRoot = oldDrive;
  ResetRegistry();
  ResetDrive();
}

void AddFault(const Fault &fault) {
  M().faults.push_back(Machine::PlannedFault{fault, 0});
}

void ClearFaults() {
  M().faults.clear();
}

const std::vector<Call> &CallLog() {
  return M().callLog;
}

int CallCount(Call kind) {
  auto it = M().counts.find(kind);
  return it == M().counts.end() ? 0 : it->second;
}

std::vector<std::string> Problems() {
  return M().problems;
}

std::vector<std::string> OpenHandles() {
  Machine &m = M();
  std::vector<std::string> open;
  char ucHex[32];
  for (auto &entry : m.keys)
    open.push_back("key " + entry.second.path);
  for (auto &entry : m.files)
    open.push_back("file " + entry.second.winPath);
  for (auto &entry : m.searches) {
    std::snprintf(ucHex, sizeof ucHex, "%#lx", static_cast<unsigned long>(entry.first));
    open.push_back(std::string("search ") + ucHex);
  }
  for (auto &entry : m.mappings)
    open.push_back("mapping " + entry.second.winPath);
  for (auto &entry : m.views) {
    open.push_back("view of " + entry.second.hostPath);
  }
  for (auto &entry : m.globals) {
    std::snprintf(ucHex, sizeof ucHex, "%#lx", static_cast<unsigned long>(entry.first));
    open.push_back(std::string("memory block ") + ucHex);
  }
  return open;
}

}  // namespace sim
