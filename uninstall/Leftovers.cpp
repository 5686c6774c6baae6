#include "uninstall/Leftovers.h"

#include <cstring>

#include "files/FileRemoval.h"
#include "inf/InfOwnership.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/trace.h"
#include "registry/KeyRemoval.h"
#include "registry/ValueRemoval.h"
#include "uninstall/UninstallState.h"

namespace {

struct FixedKey {
  const char *pucPath;
  int fOnlyIfEmpty;
};
const FixedKey FIXED_KEYS[] = {
    {"ENUM\\LPTENUM", 1},       {"Software\\VRAX\\USB\\BDPM", 0},      {"Software\\VRAX\\USB", 1},
    {"Software\\VRAX", 1},      {"Software\\Moravent2\\USB\\BDPM", 0}, {"Software\\Moravent2\\USB", 1},
    {"Software\\Moravent2", 1},
};
const char ADD_ON_DLL[] = "KXUSBADD.DLL";
const char MONITOR_SUFFIX[] = ".DLL";
const char OTHER_INF_DIRECTORY[] = "INF\\OTHER\\";
const char MAIN_INF_DIRECTORY[] = "INF\\";
const char *const INF_PATTERNS[] = {"RWQ*.INF", "ZNK*.INF"};
const char OEM_NAME_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Setup\\SetupX\\INF\\OEM Name";
const os::UINT SYSTEM_DIRECTORY_LIMIT = 363;
const os::UINT WINDOWS_DIRECTORY_LIMIT = 260;
const os::LONG ERROR_INSUFFICIENT_BUFFER = 122;

// Joins the parts into ucPath (384 bytes); 0, and nothing usable, when they do not fit: a cut
// path would name another file.
int JoinPath(char *ucPath, const char *pucFirst, const char *pucSecond, const char *pucThird) {
  if (std::strlen(pucFirst) + std::strlen(pucSecond) + std::strlen(pucThird) > TEXT_LIMIT)
    return 0;
  CopyText(ucPath, TEXT_SIZE, pucFirst);
  AppendText(ucPath, TEXT_SIZE, pucSecond);
  AppendText(ucPath, TEXT_SIZE, pucThird);
  return 1;
}

// A directory query's result as an error code: 0 only for a whole path that fit its buffer.
os::LONG DirectoryError(os::UINT uLength, os::UINT uLimit) {
  if (uLength != 0 && uLength < uLimit)
    return 0;
  os::LONG lError = uLength == 0 ? static_cast<os::LONG>(os::GetLastError()) : ERROR_INSUFFICIENT_BUFFER;
  return lError != 0 ? lError : ERROR_INSUFFICIENT_BUFFER;
}

void RemoveSystemFile(const char *pucName, const char *pucSuffix) {
  char ucPath[TEXT_SIZE];
  if (JoinPath(ucPath, g_State.ucSharedText, "\\", pucName) &&
      std::strlen(ucPath) + std::strlen(pucSuffix) <= TEXT_LIMIT) {
    AppendText(ucPath, sizeof ucPath, pucSuffix);
    RemoveFile(ucPath);
  } else {
    TraceLine(" Skipping file <%s\\%s%s> path too long\n", g_State.ucSharedText, pucName, pucSuffix);
  }
}

os::LONG RemoveSystemFiles(const char *pucDriverFile, const char *pucMonitor) {
  g_State.ucSharedText[0] = '\0';
  os::LONG lDirError =
      DirectoryError(os::GetSystemDirectoryA(g_State.ucSharedText, SYSTEM_DIRECTORY_LIMIT), SYSTEM_DIRECTORY_LIMIT);
  if (lDirError != 0)
    g_State.ucSharedText[0] = '\0';
  TraceLine(" GetSystemDirectory <%s> result %d\n", g_State.ucSharedText, lDirError);
  if (lDirError == 0) {
    RemoveSystemFile(pucMonitor, MONITOR_SUFFIX);
    RemoveSystemFile(pucDriverFile, "");
    RemoveSystemFile(ADD_ON_DLL, "");
  }
  return lDirError;
}

void HandleFoundInf(const char *ucDirectory, os::WIN32_FIND_DATAA *pFound) {
  pFound->cFileName[sizeof pFound->cFileName - 1] = '\0';
  char ucFilePath[TEXT_SIZE];
  if (!JoinPath(ucFilePath, ucDirectory, pFound->cFileName, "")) {
    TraceLine(" Skipping file <%s%s> path too long\n", ucDirectory, pFound->cFileName);
    return;
  }
  if (IsPackageInf(ucFilePath) != 1)
    return;
  RemoveValueByName(ucFilePath, std::strlen(ucFilePath) + 1, OEM_NAME_KEY);
  RemoveFile(ucFilePath);
}

void RemoveMatchingInfs(const char *ucDirectory, const char *pucPrefix, const char *pucPattern) {
  char ucFilePath[TEXT_SIZE];
  if (!JoinPath(ucFilePath, ucDirectory, pucPrefix, pucPattern))
    return;
  os::WIN32_FIND_DATAA found;
  std::memset(&found, 0, sizeof found);
  os::HANDLE hSearch = os::FindFirstFileA(ucFilePath, &found);
  if (hSearch == os::INVALID_HANDLE_VALUE)
    return;
  do {
    HandleFoundInf(ucDirectory, &found);
  } while (os::FindNextFileA(hSearch, &found));
  os::FindClose(hSearch);
}

void RemoveInfFiles(const char *pucSubdirectory, const char *pucPrefix, os::LONG lDirError) {
  g_State.ucSharedText[0] = '\0';
  os::UINT uLength = os::GetWindowsDirectoryA(g_State.ucSharedText, WINDOWS_DIRECTORY_LIMIT);
  int fWindowsKnown = uLength != 0 && uLength < WINDOWS_DIRECTORY_LIMIT;
  if (!fWindowsKnown)
    g_State.ucSharedText[0] = '\0';
  AppendText(g_State.ucSharedText, TEXT_SIZE, "\\");
  AppendText(g_State.ucSharedText, TEXT_SIZE, pucSubdirectory);
  TraceLine(" Queried value <%s>=<%s> result %d\n", "OtherDevicePath", g_State.ucSharedText, lDirError);
  // Without the Windows directory the path names a folder of whatever drive is current.
  if (!fWindowsKnown)
    return;
  char ucDirectory[TEXT_SIZE];
  CopyText(ucDirectory, sizeof ucDirectory, g_State.ucSharedText);
  for (const char *pucPattern : INF_PATTERNS)
    RemoveMatchingInfs(ucDirectory, pucPrefix, pucPattern);
}

}  // namespace

void RemoveLeftovers(const char *pucDriverFile, const char *pucMonitor, const char *ucProviderName) {
  for (const FixedKey &key : FIXED_KEYS)
    RemoveKeyByPath(key.pucPath, key.fOnlyIfEmpty);
  os::LONG lDirError = RemoveSystemFiles(pucDriverFile, pucMonitor);
  RemoveInfFiles(OTHER_INF_DIRECTORY, ucProviderName, lDirError);
  RemoveInfFiles(MAIN_INF_DIRECTORY, "", lDirError);
}
