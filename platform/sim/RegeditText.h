// How a REGEDIT4 file writes one value, shared by the simulation's export and the Wine-side
// export of the end-to-end runs, so that both write the same text for the same value.
#ifndef UNINST_PLATFORM_SIM_REGEDITTEXT_H
#define UNINST_PLATFORM_SIM_REGEDITTEXT_H

#include <cstdio>
#include <string>

namespace regedit {

const unsigned long TYPE_SZ = 1;
const unsigned long TYPE_BINARY = 3;
const unsigned long TYPE_DWORD = 4;

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
inline std::string ValueLine(const std::string &name, unsigned long ulType, const std::string &data) {
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
  std::snprintf(ucKind, sizeof ucKind, "hex(%lx):", ulType);
  return HexLine(start + ucKind, data);
}

}  // namespace regedit

#endif
