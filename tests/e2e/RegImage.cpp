// Test helper, not part of the program: loads a REGEDIT4 image into the registry through the
// registry API, and writes subtrees of the registry back as REGEDIT4 in the form the simulated
// machine exports. Wine's own reg.exe and regedit know no HKEY_DYN_DATA; the API does.
//   RegImage.exe import IMAGE.reg
//   RegImage.exe export OUT.reg ROOT\PATH...
// Exit code 0 on success, 2 on any failure (with the reason on standard error).
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/formats/Regedit.h"

namespace {

struct Root {
  const char *pucName;
  HKEY hKey;
};

const Root ROOTS[] = {{"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
                      {"HKEY_DYN_DATA", HKEY_DYN_DATA},
                      {"HKEY_USERS", HKEY_USERS},
                      {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
                      {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                      {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG}};

bool Fail(const std::string &why) {
  std::fprintf(stderr, "RegImage: %s\n", why.c_str());
  return false;
}

bool ReadFileBytes(const char *pucPath, std::string *pText) {
  FILE *pFile = std::fopen(pucPath, "rb");
  if (pFile == nullptr)
    return false;
  char ucChunk[4096];
  size_t ulRead = 0;
  while ((ulRead = std::fread(ucChunk, 1, sizeof ucChunk, pFile)) > 0)
    pText->append(ucChunk, ulRead);
  std::fclose(pFile);
  return true;
}

HKEY RootHandle(const std::string &name) {
  for (const Root &root : ROOTS) {
    if (name == root.pucName)
      return root.hKey;
  }
  return nullptr;
}

bool SplitRoot(const std::string &full, HKEY *phRoot, std::string *pPath) {
  size_t slash = full.find('\\');
  *pPath = slash == std::string::npos ? "" : full.substr(slash + 1);
  *phRoot = RootHandle(full.substr(0, slash));
  return *phRoot != nullptr;
}

// The image is parsed whole first, as the simulation parses it, so a malformed image writes nothing.
bool Import(const char *pucImage) {
  std::string text;
  if (!ReadFileBytes(pucImage, &text))
    return Fail(std::string("cannot read ") + pucImage);
  std::vector<regedit::Operation> ops;
  std::string error;
  if (!regedit::ParseImage(text, &ops, &error))
    return Fail(error);
  for (const regedit::Operation &op : ops) {
    HKEY hKey = nullptr;
    LONG lResult =
        RegCreateKeyExA(RootHandle(op.root), op.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey, nullptr);
    if (lResult != ERROR_SUCCESS)
      return Fail("cannot create [" + op.root + "\\" + op.path + "], error " + std::to_string(lResult));
    if (op.fValue) {
      lResult = RegSetValueExA(hKey, op.name.empty() ? nullptr : op.name.c_str(), 0, op.ulType,
                               reinterpret_cast<const BYTE *>(op.data.data()), static_cast<DWORD>(op.data.size()));
    }
    RegCloseKey(hKey);
    if (lResult != ERROR_SUCCESS)
      return Fail("cannot write a value of [" + op.root + "\\" + op.path + "], error " + std::to_string(lResult));
  }
  return true;
}

void ExportValues(HKEY hKey, std::string *pOut) {
  for (DWORD dwIndex = 0;; ++dwIndex) {
    char ucName[16384];
    DWORD dwNameLength = sizeof ucName;
    DWORD dwType = 0;
    DWORD dwDataSize = 0;
    if (RegEnumValueA(hKey, dwIndex, ucName, &dwNameLength, nullptr, &dwType, nullptr, &dwDataSize) != ERROR_SUCCESS)
      return;
    std::string data(dwDataSize, '\0');
    dwNameLength = sizeof ucName;
    if (RegEnumValueA(hKey, dwIndex, ucName, &dwNameLength, nullptr, &dwType, reinterpret_cast<BYTE *>(&data[0]),
                      &dwDataSize) != ERROR_SUCCESS)
      return;
    data.resize(dwDataSize);
    *pOut += regedit::ValueLine(std::string(ucName, dwNameLength), dwType, data) + "\r\n";
  }
}

void ExportKey(HKEY hKey, const std::string &full, std::string *pOut) {
  *pOut += "[" + full + "]\r\n";
  ExportValues(hKey, pOut);
  *pOut += "\r\n";
  for (DWORD dwIndex = 0;; ++dwIndex) {
    char ucName[1024];
    DWORD dwNameLength = sizeof ucName;
    if (RegEnumKeyExA(hKey, dwIndex, ucName, &dwNameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      return;
    HKEY hChild = nullptr;
    if (RegOpenKeyExA(hKey, ucName, 0, KEY_READ, &hChild) == ERROR_SUCCESS) {
      ExportKey(hChild, full + "\\" + ucName, pOut);
      RegCloseKey(hChild);
    }
  }
}

bool Export(const char *pucOut, int iRoots, char **ppucRoots) {
  std::string out = "REGEDIT4\r\n\r\n";
  for (int i = 0; i < iRoots; ++i) {
    HKEY hRoot = nullptr;
    std::string path;
    if (!SplitRoot(ppucRoots[i], &hRoot, &path))
      return Fail(std::string("unknown root in ") + ppucRoots[i]);
    HKEY hKey = nullptr;
    // A subtree that the run removed whole is simply absent from the export.
    if (RegOpenKeyExA(hRoot, path.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
      continue;
    ExportKey(hKey, ppucRoots[i], &out);
    RegCloseKey(hKey);
  }
  FILE *pFile = std::fopen(pucOut, "wb");
  if (pFile == nullptr)
    return Fail(std::string("cannot write ") + pucOut);
  bool fWritten = std::fwrite(out.data(), 1, out.size(), pFile) == out.size();
  return std::fclose(pFile) == 0 && fWritten ? true : Fail("short write");
}

}  // namespace

int main(int argc, char **argv) {
  std::string verb = argc > 1 ? argv[1] : "";
  if (verb == "import" && argc == 3)
    return Import(argv[2]) ? 0 : 2;
  if (verb == "export" && argc >= 3)
    return Export(argv[2], argc - 3, argv + 3) ? 0 : 2;
  std::fprintf(stderr, "usage: RegImage.exe import IMAGE.reg | export OUT.reg ROOT\\PATH...\n");
  return 2;
}
