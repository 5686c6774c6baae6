// REGEDIT4 images of the simulated registry, in the form Windows 98's regedit writes them.
// An image is parsed whole into a list of operations before any of it is applied, so that a
// malformed image is refused without being half-loaded.
#include <cstdio>
#include <sstream>

#include "platform/sim/RegeditText.h"
#include "platform/sim/SimMachine.h"

namespace sim {

namespace {

struct Operation {
  std::string root;
  std::string path;
  bool fValue;
  std::string name;
  os::DWORD dwType;
  std::string data;
};

const char *const ROOT_NAMES[] = {"HKEY_LOCAL_MACHINE", "HKEY_DYN_DATA",     "HKEY_USERS",
                                  "HKEY_CLASSES_ROOT",  "HKEY_CURRENT_USER", "HKEY_CURRENT_CONFIG"};

std::vector<std::string> Lines(const std::string &image) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream stream(image);
  while (std::getline(stream, line)) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// A quoted text at pos (on the opening quote) with the \\ and \" escapes; pos ends after it.
bool ParseQuoted(const std::string &line, size_t *pPos, std::string *pText, std::string *pWhy) {
  size_t pos = *pPos + 1;
  pText->clear();
  while (pos < line.size() && line[pos] != '"') {
    if (line[pos] == '\\') {
      if (pos + 1 >= line.size() || (line[pos + 1] != '\\' && line[pos + 1] != '"')) {
        *pWhy = "unknown escape in quoted text";
        return false;
      }
      ++pos;
    }
    *pText += line[pos++];
  }
  if (pos >= line.size()) {
    *pWhy = "unterminated quoted text";
    return false;
  }
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

bool ParseHexBytes(const std::string &text, std::string *pData, std::string *pWhy) {
  pData->clear();
  std::string item;
  std::istringstream stream(text);
  while (std::getline(stream, item, ',')) {
    size_t first = item.find_first_not_of(' ');
    size_t last = item.find_last_not_of(' ');
    item = first == std::string::npos ? "" : item.substr(first, last - first + 1);
    if (item.size() != 2 || HexDigit(item[0]) < 0 || HexDigit(item[1]) < 0) {
      *pWhy = "bad hex byte '" + item + "'";
      return false;
    }
    *pData += static_cast<char>(HexDigit(item[0]) * 16 + HexDigit(item[1]));
  }
  if (!text.empty() && text.back() == ',') {
    *pWhy = "hex list ends with a comma";
    return false;
  }
  return true;
}

bool ParseData(const std::string &text, os::DWORD *pType, std::string *pData, std::string *pWhy) {
  if (!text.empty() && text[0] == '"') {
    size_t pos = 0;
    if (!ParseQuoted(text, &pos, pData, pWhy))
      return false;
    if (pos != text.size()) {
      *pWhy = "text after the closing quote";
      return false;
    }
    *pType = os::REG_SZ;
    *pData += '\0';
    return true;
  }
  if (text.compare(0, 6, "dword:") == 0) {
    std::string digits = text.substr(6);
    if (digits.size() != 8) {
      *pWhy = "dword needs 8 hex digits";
      return false;
    }
    os::DWORD dwValue = 0;
    for (char c : digits) {
      if (HexDigit(c) < 0) {
        *pWhy = "bad dword digit";
        return false;
      }
      dwValue = dwValue * 16 + static_cast<os::DWORD>(HexDigit(c));
    }
    *pType = os::REG_DWORD;
    pData->assign(1, static_cast<char>(dwValue & 0xFF));
    for (int i = 1; i < 4; ++i)
      *pData += static_cast<char>((dwValue >> (8 * i)) & 0xFF);
    return true;
  }
  size_t colon = text.find(':');
  std::string kind = colon == std::string::npos ? text : text.substr(0, colon);
  if (kind == "hex") {
    *pType = os::REG_BINARY;
  } else if (kind.size() > 5 && kind.compare(0, 4, "hex(") == 0 && kind.back() == ')') {
    std::string number = kind.substr(4, kind.size() - 5);
    os::DWORD dwType = 0;
    for (char c : number) {
      if (HexDigit(c) < 0) {
        *pWhy = "bad hex(n) type";
        return false;
      }
      dwType = dwType * 16 + static_cast<os::DWORD>(HexDigit(c));
    }
    *pType = dwType;
  } else {
    *pWhy = "unknown value data";
    return false;
  }
  return ParseHexBytes(text.substr(colon + 1), pData, pWhy);
}

bool ParseKeyLine(const std::string &line, Operation *pOp, std::string *pWhy) {
  if (line.size() < 3 || line.back() != ']' || line[1] == '-') {
    *pWhy = "bad key line";
    return false;
  }
  std::string full = line.substr(1, line.size() - 2);
  size_t slash = full.find('\\');
  pOp->root = full.substr(0, slash);
  pOp->path = slash == std::string::npos ? "" : full.substr(slash + 1);
  for (const char *pucRoot : ROOT_NAMES) {
    if (pOp->root == pucRoot)
      return true;
  }
  *pWhy = "unknown root '" + pOp->root + "'";
  return false;
}

bool ParseValueLine(const std::string &line, Operation *pOp, std::string *pWhy) {
  size_t pos = 0;
  if (line[0] == '@') {
    pOp->name.clear();
    pos = 1;
  } else if (!ParseQuoted(line, &pos, &pOp->name, pWhy)) {
    return false;
  }
  if (pos >= line.size() || line[pos] != '=') {
    *pWhy = "'=' expected after the value name";
    return false;
  }
  return ParseData(line.substr(pos + 1), &pOp->dwType, &pOp->data, pWhy);
}

bool ParseImage(const std::string &image, std::vector<Operation> *pOps, std::string *pError) {
  std::vector<std::string> lines = Lines(image);
  if (lines.empty() || lines[0] != "REGEDIT4") {
    *pError = "line 1: REGEDIT4 header expected";
    return false;
  }
  Operation key{"", "", false, "", 0, ""};
  bool fInKey = false;
  for (size_t i = 1; i < lines.size(); ++i) {
    size_t lineNumber = i + 1;
    std::string line = lines[i];
    std::string why;
    if (line.empty() || line[0] == ';')
      continue;
    if (line[0] == '[') {
      if (!ParseKeyLine(line, &key, &why)) {
        *pError = "line " + std::to_string(lineNumber) + ": " + why;
        return false;
      }
      fInKey = true;
      pOps->push_back(key);
      continue;
    }
    while (!line.empty() && line.back() == '\\' && i + 1 < lines.size()) {
      line.pop_back();
      std::string next = lines[++i];
      size_t first = next.find_first_not_of(' ');
      line += first == std::string::npos ? "" : next.substr(first);
    }
    Operation value = key;
    value.fValue = true;
    if (line[0] != '"' && line[0] != '@') {
      why = "value or key line expected";
    } else if (!fInKey) {
      why = "value before any key";
    } else {
      ParseValueLine(line, &value, &why);
    }
    if (!why.empty()) {
      *pError = "line " + std::to_string(lineNumber) + ": " + why;
      return false;
    }
    pOps->push_back(value);
  }
  return true;
}

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

bool ImportRegistry(const std::string &image, std::string *pError) {
  std::vector<Operation> ops;
  std::string error;
  if (!ParseImage(image, &ops, &error)) {
    if (pError)
      *pError = error;
    return false;
  }
  for (const Operation &op : ops) {
    RegKey *pKey = CreatePath(AddRoot(op.root).key.get(), op.path);
    if (op.fValue)
      PutValue(pKey, op.name, op.dwType, op.data);
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
