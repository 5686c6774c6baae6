// How a REGEDIT4 file is read and how it writes a value, shared by the simulated registry and the
// Wine-side seeding and export of the end-to-end runs, so that both take and write the same text.
// An image is parsed whole into a list of operations before any of it is applied, so that a
// malformed image is refused without being half-loaded.
#ifndef UNINST_PLATFORM_SIM_REGEDITTEXT_H
#define UNINST_PLATFORM_SIM_REGEDITTEXT_H

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace regedit {

const std::uint32_t TYPE_SZ = 1;
const std::uint32_t TYPE_BINARY = 3;
const std::uint32_t TYPE_DWORD = 4;

inline std::string Quote(const std::string &text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"')
      quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

// Hex bytes after start, wrapped as regedit wraps them: a backslash and two blanks past column 74.
inline std::string HexLine(const std::string &start, const std::string &data) {
  std::string out = start;
  size_t column = start.size();
  char ucByte[4];
  for (size_t i = 0; i < data.size(); ++i) {
    std::snprintf(ucByte, sizeof ucByte, "%02x", static_cast<unsigned char>(data[i]));
    out += ucByte;
    column += 2;
    if (i + 1 < data.size()) {
      out += ',';
      ++column;
      if (column > 74) {
        out += "\\\r\n  ";
        column = 2;
      }
    }
  }
  return out;
}

// data is the value's raw bytes; a text value holds its terminating NUL.
inline std::string ValueLine(const std::string &name, std::uint32_t ulType, const std::string &data) {
  std::string start = name.empty() ? "@=" : Quote(name) + "=";
  bool fPlainText = !data.empty() && data.back() == '\0' && data.find('\0') == data.size() - 1;
  if (ulType == TYPE_SZ && fPlainText)
    return start + Quote(data.substr(0, data.size() - 1));
  if (ulType == TYPE_DWORD && data.size() == 4) {
    unsigned long ulValue = 0;
    for (int i = 3; i >= 0; --i)
      ulValue = ulValue * 256 + static_cast<unsigned char>(data[static_cast<size_t>(i)]);
    char ucDword[16];
    std::snprintf(ucDword, sizeof ucDword, "dword:%08lx", ulValue);
    return start + ucDword;
  }
  if (ulType == TYPE_BINARY)
    return HexLine(start + "hex:", data);
  char ucKind[24];
  std::snprintf(ucKind, sizeof ucKind, "hex(%lx):", static_cast<unsigned long>(ulType));
  return HexLine(start + ucKind, data);
}

// ---- reading ------------------------------------------------------------------------------

struct Operation {
  std::string root;
  std::string path;
  bool fValue;
  std::string name;
  std::uint32_t ulType;
  std::string data;
};

inline const char *const ROOT_NAMES[] = {"HKEY_LOCAL_MACHINE", "HKEY_DYN_DATA",     "HKEY_USERS",
                                         "HKEY_CLASSES_ROOT",  "HKEY_CURRENT_USER", "HKEY_CURRENT_CONFIG"};

inline std::vector<std::string> Lines(const std::string &image) {
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
inline bool ParseQuoted(const std::string &line, size_t *pPos, std::string *pText, std::string *pWhy) {
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

inline int HexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

inline bool ParseHexBytes(const std::string &text, std::string *pData, std::string *pWhy) {
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

inline bool ParseData(const std::string &text, std::uint32_t *pType, std::string *pData, std::string *pWhy) {
  if (!text.empty() && text[0] == '"') {
    size_t pos = 0;
    if (!ParseQuoted(text, &pos, pData, pWhy))
      return false;
    if (pos != text.size()) {
      *pWhy = "text after the closing quote";
      return false;
    }
    *pType = TYPE_SZ;
    *pData += '\0';
    return true;
  }
  if (text.compare(0, 6, "dword:") == 0) {
    std::string digits = text.substr(6);
    if (digits.size() != 8) {
      *pWhy = "dword needs 8 hex digits";
      return false;
    }
    std::uint32_t ulValue = 0;
    for (char c : digits) {
      if (HexDigit(c) < 0) {
        *pWhy = "bad dword digit";
        return false;
      }
      ulValue = ulValue * 16 + static_cast<std::uint32_t>(HexDigit(c));
    }
    *pType = TYPE_DWORD;
    pData->assign(1, static_cast<char>(ulValue & 0xFF));
    for (int i = 1; i < 4; ++i)
      *pData += static_cast<char>((ulValue >> (8 * i)) & 0xFF);
    return true;
  }
  size_t colon = text.find(':');
  std::string kind = colon == std::string::npos ? text : text.substr(0, colon);
  if (kind == "hex") {
    *pType = TYPE_BINARY;
  } else if (kind.size() > 5 && kind.compare(0, 4, "hex(") == 0 && kind.back() == ')') {
    std::string number = kind.substr(4, kind.size() - 5);
    std::uint32_t ulKind = 0;
    for (char c : number) {
      if (HexDigit(c) < 0) {
        *pWhy = "bad hex(n) type";
        return false;
      }
      ulKind = ulKind * 16 + static_cast<std::uint32_t>(HexDigit(c));
    }
    *pType = ulKind;
  } else {
    *pWhy = "unknown value data";
    return false;
  }
  return ParseHexBytes(text.substr(colon + 1), pData, pWhy);
}

inline bool ParseKeyLine(const std::string &line, Operation *pOp, std::string *pWhy) {
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

inline bool ParseValueLine(const std::string &line, Operation *pOp, std::string *pWhy) {
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
  return ParseData(line.substr(pos + 1), &pOp->ulType, &pOp->data, pWhy);
}

inline bool ParseImage(const std::string &image, std::vector<Operation> *pOps, std::string *pError) {
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

}  // namespace regedit

#endif
