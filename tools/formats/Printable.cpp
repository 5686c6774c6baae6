#include "tools/formats/Printable.h"

#include <iconv.h>

#include <cerrno>

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

// Through the C library's iconv, which refuses the five undefined bytes: each of those is shown
// as U+FFFD and the conversion goes on after it.
std::string ShownCp1252(std::string_view text) {
  static const iconv_t cd = iconv_open("UTF-8", "CP1252");
  if (cd == reinterpret_cast<iconv_t>(-1))
    return std::string(text);
  std::string utf8;
  utf8.reserve(text.size() + text.size() / 2);
  char *pIn = const_cast<char *>(text.data());
  size_t inLeft = text.size();
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  while (inLeft > 0) {
    char ucBuffer[4096];
    char *pOut = ucBuffer;
    size_t outLeft = sizeof ucBuffer;
    size_t converted = iconv(cd, &pIn, &inLeft, &pOut, &outLeft);
    utf8.append(ucBuffer, static_cast<size_t>(pOut - ucBuffer));
    if (converted != static_cast<size_t>(-1) || errno == E2BIG)
      continue;
    utf8 += "\xEF\xBF\xBD";  // U+FFFD
    ++pIn;
    --inLeft;
  }
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
