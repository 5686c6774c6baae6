// The simulated machine's one record, shared by the simulation's files. Not for the product.
#ifndef UNINST_PLATFORM_SIM_SIMMACHINE_H
#define UNINST_PLATFORM_SIM_SIMMACHINE_H

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/sim.h"
#include "platform/types.h"

namespace sim {

struct RegValue {
  std::string name;  // spelling kept; "" is the default value
  os::DWORD dwType;
  std::string data;  // raw bytes; a text value holds its terminating NUL
};

struct RegKey {
  std::string name;
  RegKey *pParent = nullptr;
  bool fDeleted = false;
  std::vector<std::shared_ptr<RegKey>> children;  // insertion order
  std::vector<RegValue> values;                   // insertion order
  // By folded name, so that a lookup does not walk thousands of siblings.
  std::map<std::string, std::shared_ptr<RegKey>> childByName;
  std::map<std::string, size_t> valueByName;  // index into values
};

struct RegRoot {
  std::string name;  // "HKEY_LOCAL_MACHINE"
  os::HKEY hKey;     // the predefined handle
  std::shared_ptr<RegKey> key;
};

struct OpenKey {
  std::shared_ptr<RegKey> key;  // keeps a deleted key alive until closed
  std::string path;             // full path with the root's name
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
/// ASCII-only case folding, as the simulated machine compares names.
std::string Fold(const std::string &text);
bool SameName(const std::string &a, const std::string &b);
void ResetRegistry();
void ResetFiles();
void CloseAllFiles();
std::string KeyPath(const RegRoot &root, const RegKey *pKey);
RegRoot *RootByName(const std::string &name);
RegRoot *RootByHandle(os::HKEY hKey);
RegRoot &AddRoot(const std::string &name);
RegKey *ChildOf(RegKey *pKey, const std::string &name);
RegKey *CreatePath(RegKey *pKey, const std::string &path);
RegValue *ValueOf(RegKey *pKey, const std::string &name);
void PutValue(RegKey *pKey, const std::string &name, os::DWORD dwType, const std::string &data);
/// The root a key hangs under (null for a key no longer in the tree).
const RegRoot *RootOf(const RegKey *pKey);
/// Records a key about to be removed, with its subkeys and values, in the machine's changes.
void RecordRemovedKey(const RegKey *pKey);
/// Records a value about to be removed from a key.
void RecordRemovedValue(const RegKey *pKey, const RegValue &value);

}  // namespace sim

#endif
