// Control of the simulated Windows 98/ME machine behind the platform calls of host builds:
// what tests and the host tool use to set a machine up, run the uninstaller on it and read back
// what it did. The machine is one record; Reset() returns it to a fresh, empty state.
#ifndef UNINST_PLATFORM_SIM_SIM_H
#define UNINST_PLATFORM_SIM_SIM_H

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

namespace sim {

/// Every kind of platform call, for counting and for fault injection.
enum class Call : unsigned char {
  Any,  // every call that counts
  RegOpenKeyEx,
  RegEnumKeyEx,
  RegEnumValue,
  RegQueryValueEx,
  RegDeleteKey,
  RegDeleteValue,
  GetSystemDirectory,
  GetWindowsDirectory,
  DeleteFile,
  MoveFileEx,
  FindFirstFile,
  FindNextFile,
  CreateFile,
  GetFileSize,
  ReadFile,
  SetFilePointer,
  SetEndOfFile,
  CreateFileMapping,
  MapViewOfFile,
  GlobalAlloc,
  GlobalLock,
  GetModuleHandle,
  LoadString,
  MessageBox,
  GetVersionEx,
  ExitWindowsEx,
};

/// A fresh machine: empty registry (HKEY_LOCAL_MACHINE and HKEY_DYN_DATA roots present), a new
/// empty temporary C: drive holding C:\WINDOWS and C:\WINDOWS\SYSTEM, minor version 10,
/// MoveFileExA unsupported, no scripted answers, empty trace, no faults, no open handles,
/// call counters at 0. Removes the previous machine's temporary drive.
void Reset();

// ---- Registry -------------------------------------------------------------------------------

/// About what a key and a value take in the simulated registry beside their names and data, and
/// what a value takes more once its key's values are indexed: for loaders that hold what a
/// user's file may make the machine hold to the file's size.
const size_t KEY_FOOTPRINT = 128;
const size_t VALUE_FOOTPRINT = 96;
const size_t INDEX_FOOTPRINT = 80;
/// Below this many values a key's values are walked; from it on they are looked up by name.
const size_t INDEXED_VALUES = 32;

struct RegistryValue {
  std::string name;  // "" for the default value
  os::DWORD dwType;
  std::string data;  // raw bytes; a text value holds its terminating NUL
};
struct RegistryKey {
  std::string path;  // with the root's name: "HKEY_LOCAL_MACHINE\\Software"
  std::vector<RegistryValue> values;
};
/// Every key, parents before their subkeys, in enumeration order.
std::vector<RegistryKey> RegistryKeys();
/// The same walk without copies: each key's full path (with the root's name) and its values.
void ForEachKey(const std::function<void(const std::string &path, const std::vector<RegistryValue> &values)> &each);

// What loaders of a user's registry add keys through: each key made under its parent, never
// looked up from the root again.
using KeyRef = std::uint32_t;
/// Makes room for count more keys at once, for a loader that knows how many it will add.
void ReserveKeys(size_t count);
/// The root key of that name ("HKEY_LOCAL_MACHINE", "HKEY_USERS"...), added when missing.
KeyRef RootKey(std::string_view name);
/// The subkey of that one name (a backslash in it is part of it), made when missing.
KeyRef Subkey(KeyRef parent, std::string_view name);
/// Sets a value of the key (raw data bytes), replacing one of that name.
void PutValue(KeyRef key, std::string_view name, os::DWORD dwType, std::string_view data);
/// Creates a key and its missing parents under a root.
void CreateKey(os::HKEY hRoot, const std::string &path);
/// Sets a text value (REG_SZ), creating the key when needed.
void SetStringValue(os::HKEY hRoot, const std::string &path, const std::string &name, const std::string &data);
/// Sets a value of any type with raw data bytes, creating the key when needed.
void SetValue(os::HKEY hRoot, const std::string &path, const std::string &name, os::DWORD dwType,
              const std::string &data);
/// Whether a key has subkeys (a root: whether it holds any key).
bool HasSubkeys(os::HKEY hRoot, const std::string &path);
/// Whether a key exists.
bool KeyExists(os::HKEY hRoot, const std::string &path);
/// Whether a value exists; *pData (when given) receives its raw data.
bool GetValue(os::HKEY hRoot, const std::string &path, const std::string &name, std::string *pData);

// ---- Names ----------------------------------------------------------------------------------

/// A name as the simulated machine compares names (keys, values, files): ASCII letters in lower
/// case, every other byte as it is.
std::string Fold(const std::string &text);
/// One byte of a name as Fold() gives it.
char FoldChar(char c);
/// Whether two names are one to the simulated machine.
bool SameName(std::string_view a, std::string_view b);

// ---- Code page 1252 -------------------------------------------------------------------------

/// Code page 1252 text as UTF-8. The five bytes the code page leaves undefined (0x81, 0x8D, 0x8F,
/// 0x90, 0x9D) become U+0081... as Windows maps them, or U+FFFD when fForDisplay.
std::string Utf8FromCp1252(const std::string &text, bool fForDisplay = false);
/// UTF-8 text in code page 1252; false when it is not UTF-8 or holds a character the code page
/// lacks.
bool Cp1252FromUtf8(const std::string &utf8, std::string *pText);

// ---- C: drive -------------------------------------------------------------------------------

/// The host folder behind C:\. Host names are UTF-8; the program sees each in code page 1252.
std::string DriveRoot();
/// Where a drive's folders and files come from when they are not copied in whole (a disk image,
/// read only as far as the run goes). Paths are relative to C:\, host names joined by '/', ""
/// for the root. Each may throw to end the run (the simulation is left for Reset()).
struct DriveSource {
  /// A folder's entries: host name (UTF-8) and whether it is a folder.
  std::function<std::vector<std::pair<std::string, bool>>(const std::string &folder)> list;
  /// A file's bytes.
  std::function<std::string(const std::string &file)> read;
};
/// Empties the drive and copies every folder and file of the source onto it now (a machine
/// image's drive/); the source is not used afterwards. Its names must pass FolderNamesProblem().
void LoadDrive(const DriveSource &source);
/// Empties the drive and takes it from the source from now on: a folder is listed when a path
/// first goes through it, a file is read when it is first opened or read (or listed by ListFiles). The source's names
/// must pass FolderNamesProblem() (the source checks them).
void AttachDrive(const DriveSource &source);
/// Why the host names of one folder cannot be names on a Windows drive: a name with no code page
/// 1252 form or that Windows cannot hold, or two that differ only in ASCII case; *pName is the
/// first such name. "" when they can.
std::string FolderNamesProblem(const std::vector<std::string> &hostNames, std::string *pName);
struct FolderEntry {
  std::string hostName;
  bool fFolder;
  bool fHeld;  // the drive holds its bytes (read from the source, or written or made by the run);
               // otherwise they are still only in the source
};
/// A folder's entries as they are now, listed from the source first; returns the host folder
/// behind it, or "" when there is no such folder.
std::string FolderEntries(const std::string &winPath, std::vector<FolderEntry> *pEntries);
/// Sets the Windows directory GetWindowsDirectoryA answers ("C:\WINDOWS" after Reset()); the
/// system directory is its SYSTEM. Creates both on the drive when missing.
void SetWindowsDirectory(const std::string &winPath);
/// The Windows directory, as GetWindowsDirectoryA answers it.
std::string WindowsDirectory();
/// A Windows path as Windows resolves it: '/' as '\', empty and "." components dropped, ".."
/// removing the component before it and stopping at C:\; "" when it is not a C:\ path.
std::string NormalPath(const std::string &winPath);
/// The host path that a Windows path (C:\...) resolves to, case-insensitively; for a path that
/// does not exist yet, its existing parts resolved and the rest as given.
std::string HostPath(const std::string &winPath);
/// Writes a file (creating its folders) with the given bytes.
void WriteFile(const std::string &winPath, const std::string &bytes);
/// Whether a file exists; *pBytes (when given) receives its content.
bool ReadFile(const std::string &winPath, std::string *pBytes);
/// Marks a file as in use: DeleteFileA then fails with 5, as Windows 98 answers for an open
/// driver or DLL.
void SetFileInUse(const std::string &winPath, bool fInUse);
/// Marks a file read-only (DeleteFileA fails with 5).
void SetReadOnly(const std::string &winPath, bool fReadOnly);
/// Every file of the drive, as Windows paths (C:\...) in the drive's own spelling, sorted.
std::vector<std::string> ListFiles();
/// Makes MoveFileExA with MOVEFILE_DELAY_UNTIL_REBOOT succeed and record the request instead of
/// failing with 120 as on Windows 98/ME.
void SetMoveFileExSupported(bool fSupported);
/// The requests MoveFileExA accepted, "existing=>new" ("existing=>" for a deletion).
std::vector<std::string> MoveFileExRequests();

// ---- What the machine holds and what the program changed -------------------------------------

/// The whole machine at one moment: what tests compare before and after a run.
struct Snapshot {
  std::vector<RegistryKey> keys;             // as RegistryKeys() gives them
  std::map<std::string, std::string> files;  // Windows path in the drive's spelling -> bytes
};
Snapshot TakeSnapshot();

/// What the platform calls changed since Reset(), recorded as they happened (the machine is never
/// copied for it). Paths of files are as the program named them in the call.
struct RemovedValue {
  std::string keyPath;  // with the root's name
  RegistryValue value;
};
struct WrittenFile {
  std::string path;    // as the program first opened it for writing
  bool fExisted;       // whether it existed then
  std::string before;  // its bytes then
  std::string after;   // its bytes now, or "" when it is gone
};
struct Changes {
  std::vector<RegistryKey> removedKeys;      // each with its values at removal, parents first
  std::vector<RemovedValue> removedValues;   // values removed by RegDeleteValueA
  std::vector<std::string> deletedFiles;     // files removed by DeleteFileA
  std::vector<WrittenFile> writtenFiles;     // files opened for writing, in first-open order
  std::vector<std::string> searchedFolders;  // folders FindFirstFileA looked in, normalised, once each
  // The bytes of each deletedFiles entry just before, for a file the run had read ("" otherwise):
  // what a report shows of a file that is gone.
  std::vector<std::string> deletedBytes;
};
Changes MachineChanges();

// ---- Dialogs, version, restart ----------------------------------------------------------------

/// Appends a scripted answer (IDYES, IDNO, IDOK, or 0 for a failed box) for the next box.
void QueueAnswer(int iAnswer);
struct MessageBoxRecord {
  std::string text;
  std::string caption;
  os::UINT uStyle;
  int iAnswer = 0;  // what MessageBoxA returned
};
/// When set, answers every box in place of the scripted answers; it may throw to end the run.
void SetAnswerSource(std::function<int(const MessageBoxRecord &)> source);
/// Every box shown, in order.
std::vector<MessageBoxRecord> MessageBoxes();
/// Sets dwMinorVersion of GetVersionExA (10 Windows 98, 90 Windows ME, or any other value).
void SetMinorVersion(os::DWORD dwMinor);
struct RestartRecord {
  os::UINT uFlags;
  os::DWORD dwReserved;
};
/// Every ExitWindowsEx request, in order.
std::vector<RestartRecord> Restarts();

// ---- Trace ----------------------------------------------------------------------------------

/// Every OutputDebugStringA text, byte for byte, in order.
const std::vector<std::string> &Trace();
void ClearTrace();

// ---- Faults, counters, problems ---------------------------------------------------------------

struct Fault {
  Call kind = Call::Any;                     // which calls count towards n
  int n = 1;                                 // the n-th counted call (from 1) fails
  os::DWORD code = os::ERROR_ACCESS_DENIED;  // the Win32 code it fails with
  bool fPersistent = false;                  // also every counted call after the n-th
  // When not empty, only calls on this key or file count: a key as its full path with the root's
  // name ("HKEY_LOCAL_MACHINE\Software\VRAX"), a file as its Windows path ("C:\WINDOWS\WININIT.INI");
  // case-insensitive.
  std::string path;
};
/// Plans a fault. Close and release calls (RegCloseKey, CloseHandle, FindClose,
/// UnmapViewOfFile, GlobalUnlock, GlobalFree), GetLastError and OutputDebugStringA never fail
/// and are not counted.
void AddFault(const Fault &fault);
/// Drops every planned fault: the next calls succeed again.
void ClearFaults();
/// Every counted call since Reset(), in order.
const std::vector<Call> &CallLog();
/// How many counted calls of a kind were made since Reset().
int CallCount(Call kind);
/// Descriptions of every handle still open (key, file, search, mapping, view, memory block).
std::vector<std::string> OpenHandles();
/// Misuses the simulation saw: a box with no scripted answer, a closed or unknown handle
/// passed to a call, and the like. A test fails when this is not empty.
std::vector<std::string> Problems();

}  // namespace sim

#endif
