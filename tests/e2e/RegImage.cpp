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

#include "platform/sim/RegeditText.h"

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

// Lines without their CR LF or LF; a trailing backslash joins the next line, its indent dropped.
std::vector<std::string> LogicalLines(const std::string &text) {
  std::vector<std::string> lines;
  std::string line;
  bool fContinued = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    std::string raw = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    pos = end == std::string::npos ? text.size() : end + 1;
    if (!raw.empty() && raw.back() == '\r')
      raw.pop_back();
    if (fContinued) {
      size_t first = raw.find_first_not_of(" \t");
      line += first == std::string::npos ? "" : raw.substr(first);
    } else {
      line = raw;
    }
    // A key line may end with a backslash only inside its brackets: only value lines continue.
    fContinued = !line.empty() && line[0] != '[' && line.back() == '\\' && pos < text.size();
    if (fContinued) {
      line.pop_back();
      continue;
    }
    lines.push_back(line);
  }
  return lines;
}

bool SplitRoot(const std::string &full, HKEY *phRoot, std::string *pPath) {
  size_t slash = full.find('\\');
  std::string root = full.substr(0, slash);
  *pPath = slash == std::string::npos ? "" : full.substr(slash + 1);
  for (const Root &candidate : ROOTS) {
    if (root == candidate.pucName) {
      *phRoot = candidate.hKey;
      return true;
    }
  }
  return false;
}

bool ParseQuoted(const std::string &line, size_t *pPos, std::string *pText) {
  size_t pos = *pPos + 1;
  pText->clear();
  while (pos < line.size() && line[pos] != '"') {
    if (line[pos] == '\\') {
      if (pos + 1 >= line.size() || (line[pos + 1] != '\\' && line[pos + 1] != '"'))
        return false;
      ++pos;
    }
    *pText += line[pos++];
  }
  if (pos >= line.size())
    return false;
  *pPos = pos + 1;
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

bool ParseHexNumber(const std::string &digits, DWORD *pdwValue) {
  *pdwValue = 0;
  for (char c : digits) {
    if (HexDigit(c) < 0)
      return false;
    *pdwValue = *pdwValue * 16 + static_cast<DWORD>(HexDigit(c));
  }
  return !digits.empty() && digits.size() <= 8;
}

bool ParseHexBytes(const std::string &list, std::string *pData) {
  pData->clear();
  std::string item;
  size_t pos = 0;
  while (pos <= list.size() && !list.empty()) {
    size_t comma = list.find(',', pos);
    item = list.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    size_t first = item.find_first_not_of(" \t");
    size_t last = item.find_last_not_of(" \t");
    item = first == std::string::npos ? "" : item.substr(first, last - first + 1);
    if (item.size() != 2 || HexDigit(item[0]) < 0 || HexDigit(item[1]) < 0)
      return false;
    *pData += static_cast<char>(HexDigit(item[0]) * 16 + HexDigit(item[1]));
    if (comma == std::string::npos)
      break;
    pos = comma + 1;
  }
  return true;
}

bool ParseData(const std::string &text, DWORD *pdwType, std::string *pData) {
  if (!text.empty() && text[0] == '"') {
    size_t pos = 0;
    if (!ParseQuoted(text, &pos, pData) || pos != text.size())
      return false;
    *pdwType = REG_SZ;
    *pData += '\0';
    return true;
  }
  if (text.compare(0, 6, "dword:") == 0) {
    DWORD dwValue = 0;
    if (text.size() != 14 || !ParseHexNumber(text.substr(6), &dwValue))
      return false;
    *pdwType = REG_DWORD;
    pData->assign(reinterpret_cast<const char *>(&dwValue), sizeof dwValue);
    return true;
  }
  size_t colon = text.find(':');
  if (colon == std::string::npos)
    return false;
  std::string kind = text.substr(0, colon);
  if (kind == "hex") {
    *pdwType = REG_BINARY;
  } else if (kind.size() > 5 && kind.compare(0, 4, "hex(") == 0 && kind.back() == ')') {
    if (!ParseHexNumber(kind.substr(4, kind.size() - 5), pdwType))
      return false;
  } else {
    return false;
  }
  return ParseHexBytes(text.substr(colon + 1), pData);
}

bool SetValueLine(HKEY hKey, const std::string &line) {
  std::string name;
  size_t pos = line[0] == '@' ? 1 : 0;
  if (pos == 0 && !ParseQuoted(line, &pos, &name))
    return false;
  if (pos >= line.size() || line[pos] != '=')
    return false;
  DWORD dwType = 0;
  std::string data;
  if (!ParseData(line.substr(pos + 1), &dwType, &data))
    return false;
  LONG lResult = RegSetValueExA(hKey, name.empty() ? nullptr : name.c_str(), 0, dwType,
                                reinterpret_cast<const BYTE *>(data.data()), static_cast<DWORD>(data.size()));
  return lResult == ERROR_SUCCESS;
}

bool Import(const char *pucImage) {
  std::string text;
  if (!ReadFileBytes(pucImage, &text))
    return Fail(std::string("cannot read ") + pucImage);
  std::vector<std::string> lines = LogicalLines(text);
  if (lines.empty() || lines[0] != "REGEDIT4")
    return Fail("REGEDIT4 header expected");
  HKEY hKey = nullptr;
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::string &line = lines[i];
    std::string where = "line " + std::to_string(i + 1) + ": ";
    if (line.empty() || line[0] == ';')
      continue;
    if (line[0] == '[') {
      if (hKey != nullptr)
        RegCloseKey(hKey);
      hKey = nullptr;
      HKEY hRoot = nullptr;
      std::string path;
      if (line.size() < 3 || line.back() != ']' || !SplitRoot(line.substr(1, line.size() - 2), &hRoot, &path))
        return Fail(where + "bad key line");
      LONG lResult = RegCreateKeyExA(hRoot, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey, nullptr);
      if (lResult != ERROR_SUCCESS)
        return Fail(where + "cannot create key, error " + std::to_string(lResult));
      continue;
    }
    if (hKey == nullptr || (line[0] != '"' && line[0] != '@') || !SetValueLine(hKey, line))
      return Fail(where + "bad or unwritable value line");
  }
  if (hKey != nullptr)
    RegCloseKey(hKey);
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
