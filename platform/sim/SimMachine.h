// The simulated machine's one record, shared by the simulation's files, and what every call uses
// of it: the fault plan and counters, handles, the last error, problems. Not for the product.
// The files rely only on those below them: the path rules as pure text (SimPathRules,
// SimCodePage); this record; the key tree (SimRegistry); the host files and the drive over them
// (SimHostFiles, SimDrive); the record of changes (SimChanges); and on top the registry, file and
// system calls (SimRegistryCalls, SimFileCalls, SimSystemCalls). No file format is read here:
// the host tools load users' files through the public calls of sim.h.
#ifndef UNINST_PLATFORM_SIM_SIMMACHINE_H
#define UNINST_PLATFORM_SIM_SIMMACHINE_H

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/sim/sim.h"
#include "platform/types.h"

namespace sim {

using RegValue = RegistryValue;  // spelling of the name kept

/// A key's place in Machine::regKeys. Keys are never freed while the machine lives: a deleted
/// key stays for the handles still open on it. A RegKey reference lasts until a key is made.
using KeyId = KeyRef;
const KeyId NO_KEY = 0xFFFFFFFF;

struct RegKey {
  std::string name;
  KeyId parent = NO_KEY;
  bool fDeleted = false;
  std::vector<KeyId> children;   // insertion order
  std::vector<RegValue> values;  // insertion order
  // Index into values by folded name, for a key with many values only (a list of shared DLLs
  // holds thousands), so that reading one value there does not walk them all.
  std::unique_ptr<std::unordered_map<std::string, size_t>> valueIndex;
};

struct RegRoot {
  std::string name;  // "HKEY_LOCAL_MACHINE"
  os::HKEY hKey;     // the predefined handle
  KeyId key;
};

struct OpenKey {
  KeyId key;
  std::string path;  // full path with the root's name
};

struct OpenFile {
  int fd;
  std::string hostPath;
  std::string winPath;
  os::DWORD dwAccess;
  os::DWORD dwShare;
};

struct OpenSearch {
  std::vector<std::string> names;
  std::vector<bool> fDirectory;
  size_t next;
};

struct OpenMapping {
  int fd;
  size_t size;
  std::string winPath;
  std::string hostPath;
};

struct OpenGlobal {
  std::vector<unsigned char> bytes;
  int locks;
};

struct Machine {
  // registry
  std::vector<RegRoot> roots;
  std::vector<RegKey> regKeys;  // by KeyId
  // Every live key but the roots by (parent, ASCII-folded name), so that a lookup neither walks
  // siblings nor allocates: open addressing with linear probing, each slot the name's 32-bit
  // hash above the key's id, all ones when free.
  std::vector<std::uint64_t> childSlots;
  size_t childCount = 0;
  std::map<std::uintptr_t, OpenKey> keys;
  // drive
  std::string driveRoot;
  std::string windowsDirectory = "C:\\WINDOWS";  // what GetWindowsDirectoryA answers
  DriveSource source;                            // set when the drive is read as the run goes
  std::set<std::string> listedFolders;           // host folders the source has listed
  std::map<std::string, std::string> unread;     // host path of a file not read yet -> source path
  std::set<std::string> inUse;                   // host paths
  std::set<std::string> readOnly;                // host paths
  bool fMoveFileEx = false;
  std::vector<std::string> moveRequests;
  std::map<std::uintptr_t, OpenFile> files;
  std::map<std::uintptr_t, OpenSearch> searches;
  std::map<std::uintptr_t, OpenMapping> mappings;
  struct OpenView {
    size_t size;
    std::string hostPath;
  };
  std::map<const void *, OpenView> views;
  std::map<std::uintptr_t, OpenGlobal> globals;
  // what the calls changed, as they changed it
  Changes changes;
  std::map<std::string, size_t> writtenIndex;  // host path -> index in changes.writtenFiles
  // dialogs, version, restart
  std::deque<int> answers;
  std::function<int(const MessageBoxRecord &)> answerSource;
  std::vector<MessageBoxRecord> boxes;
  os::DWORD dwMinor = 10;
  std::vector<RestartRecord> restarts;
  // trace, faults, counters
  std::vector<std::string> trace;
  struct PlannedFault {
    Fault fault;
    int seen = 0;
  };
  std::vector<PlannedFault> faults;
  std::map<Call, int> counts;
  std::vector<Call> callLog;
  std::vector<std::string> problems;
  std::uintptr_t nextHandle = 0x1000;
  os::DWORD dwLastError = 0;
};

Machine &M();

/// Counts the call and tells whether a planned fault makes it fail, with the code to fail with.
bool Fails(Call kind, const std::string &path, os::DWORD *pCode);
void SetLastError(os::DWORD dwCode);
std::uintptr_t NewHandle();
void Problem(const std::string &what);
/// Closes every file, mapping and view still open on the host.
void CloseAllFiles();

}  // namespace sim

#endif
