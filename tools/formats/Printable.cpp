#include "tools/formats/Printable.h"

#include <iconv.h>

#include <array>

namespace formats {

namespace {

void AppendEscaped(std::string *pOut, unsigned char c) {
  static const char HEX[] = "0123456789ABCDEF";
  *pOut += "\\x";
  *pOut += HEX[c >> 4];
  *pOut += HEX[c & 0x0F];
}

// The length of the well-formed UTF-8 sequence at pos (RFC 3629: no overlong form, no surrogate,
// nothing past U+10FFFF), or 0.
size_t Utf8Length(std::string_view text, size_t pos, char32_t *pCode) {
  unsigned char lead = static_cast<unsigned char>(text[pos]);
  size_t length = lead < 0x80             ? 1
                  : (lead & 0xE0) == 0xC0 ? 2
                  : (lead & 0xF0) == 0xE0 ? 3
                  : (lead & 0xF8) == 0xF0 ? 4
                                          : 0;
  if (length == 0 || pos + length > text.size())
    return 0;
  char32_t code = length == 1 ? lead : lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    unsigned char next = static_cast<unsigned char>(text[pos + i]);
    if ((next & 0xC0) != 0x80)
      return 0;
    code = (code << 6) | (next & 0x3F);
  }
  static const char32_t SMALLEST[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < SMALLEST[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
    return 0;
  *pCode = code;
  return length;
}

bool IsControl(char32_t code) {
  return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

// The code point of every byte of code page 1252, from the C library's iconv once; the five
// bytes it leaves undefined (which iconv refuses) as U+FFFD.
std::array<char32_t, 256> BuildCp1252Table() {
  static const unsigned char UNDEFINED_BYTES[] = {0x81, 0x8D, 0x8F, 0x90, 0x9D};
  std::array<char32_t, 256> table{};
  iconv_t cd = iconv_open("UTF-32LE", "CP1252");
  for (unsigned i = 0; i < 256; ++i) {
    table[i] = i;  // ASCII and Latin-1 map onto themselves
    if (i < 0x80 || cd == reinterpret_cast<iconv_t>(-1))
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
  for (unsigned char undefined : UNDEFINED_BYTES)
    table[undefined] = 0xFFFD;
  return table;
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

}  // namespace

std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) {
    char32_t code = 0;
    size_t length = Utf8Length(text, pos, &code);
    if (length == 0 || IsControl(code)) {
      for (size_t i = 0; i < (length == 0 ? 1 : length); ++i)
        AppendEscaped(&out, static_cast<unsigned char>(text[pos + i]));
      pos += length == 0 ? 1 : length;
    } else {
      out.append(text, pos, length);
      pos += length;
    }
  }
  return out;
}

std::string ShownCp1252(std::string_view text) {
  static const std::array<char32_t, 256> table = BuildCp1252Table();
  std::string utf8;
  utf8.reserve(text.size());
  for (unsigned char c : text)
    AppendUtf8(table[c], &utf8);
  return utf8;
}

std::string PrintableCp1252(const std::string &text) {
  return Printable(ShownCp1252(text));
}

std::string PrintableLines(std::string_view text) {
  std::string out;
  while (!text.empty()) {
    size_t end = text.find('\n');
    out += Printable(text.substr(0, end));
    if (end == std::string_view::npos)
      break;
    out += '\n';
    text.remove_prefix(end + 1);
  }
  return out;
}

}  // namespace formats
