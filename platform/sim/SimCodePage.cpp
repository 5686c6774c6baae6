// Code page 1252, the ANSI code page of a Western European Windows 98/ME, and UTF-8, the host's
// names and the tool's output. The table comes from the C library's iconv once; iconv refuses the
// five bytes the code page leaves undefined, which Windows maps onto the C1 controls of the same
// number, so those are filled in here. Relies on nothing else of the simulation.
#include <iconv.h>

#include <array>
#include <map>

#include "platform/sim/sim.h"

namespace sim {

namespace {

const unsigned char UNDEFINED_BYTES[] = {0x81, 0x8D, 0x8F, 0x90, 0x9D};

bool IsUndefined(unsigned char c) {
  for (unsigned char undefined : UNDEFINED_BYTES) {
    if (c == undefined)
      return true;
  }
  return false;
}

// The Unicode code point of every byte.
std::array<char32_t, 256> BuildTable() {
  std::array<char32_t, 256> table{};
  iconv_t cd = iconv_open("UTF-32LE", "CP1252");
  for (unsigned i = 0; i < 256; ++i) {
    table[i] = i;  // ASCII, Latin-1 and the undefined bytes map onto themselves
    if (i < 0x80 || IsUndefined(static_cast<unsigned char>(i)) || cd == reinterpret_cast<iconv_t>(-1))
      continue;
    char cByte = static_cast<char>(i);
    unsigned char ucOut[4] = {0, 0, 0, 0};
    char *pIn = &cByte;
    char *pOut = reinterpret_cast<char *>(ucOut);
    size_t inLeft = 1;
    size_t outLeft = sizeof ucOut;
    if (iconv(cd, &pIn, &inLeft, &pOut, &outLeft) != static_cast<size_t>(-1) && outLeft == 0)
      table[i] = ucOut[0] | (ucOut[1] << 8) | (ucOut[2] << 16) | (static_cast<char32_t>(ucOut[3]) << 24);
  }
  if (cd != reinterpret_cast<iconv_t>(-1))
    iconv_close(cd);
  return table;
}

const std::array<char32_t, 256> &Table() {
  static const std::array<char32_t, 256> table = BuildTable();
  return table;
}

const std::map<char32_t, unsigned char> &Reverse() {
  static const std::map<char32_t, unsigned char> reverse = [] {
    std::map<char32_t, unsigned char> byCode;
    for (unsigned i = 0; i < 256; ++i)
      byCode[Table()[i]] = static_cast<unsigned char>(i);
    return byCode;
  }();
  return reverse;
}

void AppendUtf8(char32_t code, std::string *pOut) {
  if (code < 0x80) {
    *pOut += static_cast<char>(code);
  } else if (code < 0x800) {
    *pOut += static_cast<char>(0xC0 | (code >> 6));
    *pOut += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *pOut += static_cast<char>(0xE0 | (code >> 12));
    *pOut += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *pOut += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// The code point starting at *pPos, moving past it; false for bytes that are not UTF-8.
bool NextCodePoint(const std::string &utf8, size_t *pPos, char32_t *pCode) {
  unsigned char lead = static_cast<unsigned char>(utf8[*pPos]);
  size_t ulLength = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
  if (ulLength == 0 || *pPos + ulLength > utf8.size())
    return false;
  char32_t code = ulLength == 1 ? lead : lead & (0x7F >> ulLength);
  for (size_t i = 1; i < ulLength; ++i) {
    unsigned char next = static_cast<unsigned char>(utf8[*pPos + i]);
    if ((next & 0xC0) != 0x80)
      return false;
    code = (code << 6) | (next & 0x3F);
  }
  static const char32_t MINIMUM[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < MINIMUM[ulLength])
    return false;  // an overlong form
  *pPos += ulLength;
  *pCode = code;
  return true;
}

}  // namespace

std::string Utf8FromCp1252(const std::string &text, bool fForDisplay) {
  std::string utf8;
  utf8.reserve(text.size());
  for (unsigned char c : text) {
    char32_t code = fForDisplay && IsUndefined(c) ? 0xFFFD : Table()[c];
    AppendUtf8(code, &utf8);
  }
  return utf8;
}

bool Cp1252FromUtf8(const std::string &utf8, std::string *pText) {
  std::string text;
  text.reserve(utf8.size());
  for (size_t pos = 0; pos < utf8.size();) {
    char32_t code = 0;
    if (!NextCodePoint(utf8, &pos, &code))
      return false;
    auto found = Reverse().find(code);
    if (found == Reverse().end())
      return false;
    text += static_cast<char>(found->second);
  }
  *pText = text;
  return true;
}

}  // namespace sim
