// The REGEDIT4 reader and writer (Regedit.h).
#include "tools/formats/Regedit.h"

#include <algorithm>
#include <cstring>

namespace regedit {

namespace {

const char HEX_DIGITS[] = "0123456789abcdef";

void AppendQuoted(std::string *pOut, std::string_view text) {
  pOut->push_back('"');
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' || text[i] == '"') {
      pOut->append(text, start, i - start);
      pOut->push_back('\\');
      start = i;
    }
  }
  pOut->append(text, start, text.size() - start);
  pOut->push_back('"');
}

// Hex bytes wrapped as regedit wraps them: a backslash and two blanks past column 74, column
// being where the first byte starts.
void AppendHex(std::string *pOut, size_t column, std::string_view data) {
  size_t start = pOut->size();
  pOut->resize(start + data.size() * 3 + (data.size() / 20 + 1) * 5);
  char *pucOut = &(*pOut)[start];
  for (size_t i = 0; i < data.size(); ++i) {
    unsigned char ucByte = static_cast<unsigned char>(data[i]);
    *pucOut++ = HEX_DIGITS[ucByte >> 4];
    *pucOut++ = HEX_DIGITS[ucByte & 15];
    column += 2;
    if (i + 1 < data.size()) {
      *pucOut++ = ',';
      if (++column > 74) {
        std::memcpy(pucOut, "\\\r\n  ", 5);
        pucOut += 5;
        column = 2;
      }
    }
  }
  pOut->resize(static_cast<size_t>(pucOut - pOut->data()));
}

const char *const ROOT_NAMES[] = {"HKEY_LOCAL_MACHINE", "HKEY_DYN_DATA",     "HKEY_USERS",
                                  "HKEY_CLASSES_ROOT",  "HKEY_CURRENT_USER", "HKEY_CURRENT_CONFIG"};

int HexDigit(char c) {
  struct Table {
    signed char value[256];
    Table() {
      for (int i = 0; i < 256; ++i)
        value[i] = static_cast<signed char>(i >= '0' && i <= '9'   ? i - '0'
                                            : i >= 'a' && i <= 'f' ? i - 'a' + 10
                                            : i >= 'A' && i <= 'F' ? i - 'A' + 10
                                                                   : -1);
    }
  };
  static const Table TABLE;
  return TABLE.value[static_cast<unsigned char>(c)];
}

// A piece of the file quoted in a reason, cut short: a garbage line can be very long.
std::string Excerpt(std::string_view text) {
  const size_t MAX = 40;
  return "'" + std::string(text.substr(0, MAX)) + (text.size() > MAX ? "...'" : "'");
}

// A quoted text at pos (on the opening quote) with the \\ and \" escapes; pos ends after it.
bool ParseQuoted(std::string_view line, size_t *pPos, std::string *pText, std::string *pWhy) {
  size_t pos = *pPos + 1;
  pText->clear();
  for (;;) {
    size_t stop = pos;
    while (stop < line.size() && line[stop] != '"' && line[stop] != '\\')
      ++stop;
    if (stop == line.size()) {
      *pWhy = "unterminated quoted text";
      return false;
    }
    pText->append(line.data() + pos, stop - pos);
    if (line[stop] == '"') {
      *pPos = stop + 1;
      return true;
    }
    if (stop + 1 >= line.size() || (line[stop + 1] != '\\' && line[stop + 1] != '"')) {
      *pWhy = stop + 1 >= line.size() ? "unterminated quoted text" : "unknown escape in quoted text";
      return false;
    }
    pText->push_back(line[stop + 1]);
    pos = stop + 2;
  }
}

// Bytes written as two hex digits each, separated by commas (blanks around them allowed).
bool ParseHexBytes(std::string_view text, std::string *pData, std::string *pWhy) {
  pData->clear();
  size_t pos = 0;
  while (pos < text.size()) {
    // Two digits and a comma, as regedit writes them, without looking further.
    int iHigh = HexDigit(text[pos]);
    int iLow = pos + 1 < text.size() ? HexDigit(text[pos + 1]) : -1;
    if (iHigh >= 0 && iLow >= 0 && pos + 3 < text.size() && text[pos + 2] == ',') {
      pData->push_back(static_cast<char>(iHigh * 16 + iLow));
      pos += 3;
      continue;
    }
    size_t comma = text.find(',', pos);
    size_t end = comma == std::string_view::npos ? text.size() : comma;
    size_t first = pos;
    size_t last = end;
    while (first < last && text[first] == ' ')
      ++first;
    while (last > first && text[last - 1] == ' ')
      --last;
    if (last - first != 2 || HexDigit(text[first]) < 0 || HexDigit(text[first + 1]) < 0) {
      *pWhy = "bad hex byte " + Excerpt(text.substr(first, last - first));
      return false;
    }
    pData->push_back(static_cast<char>(HexDigit(text[first]) * 16 + HexDigit(text[first + 1])));
    if (comma == std::string_view::npos)
      return true;
    pos = comma + 1;
    if (pos == text.size()) {
      *pWhy = "hex list ends with a comma";
      return false;
    }
  }
  return true;
}

// "dword:" data: eight hex digits, stored little-endian.
bool ParseDword(std::string_view digits, std::uint32_t *pType, std::string *pData, std::string *pWhy) {
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
  pData->clear();
  for (int i = 0; i < 4; ++i)
    pData->push_back(static_cast<char>((ulValue >> (8 * i)) & 0xFF));
  return true;
}

// The n of "hex(n):", in hex.
bool ParseHexType(std::string_view digits, std::uint32_t *pType, std::string *pWhy) {
  std::uint32_t ulKind = 0;
  for (char c : digits) {
    if (HexDigit(c) < 0) {
      *pWhy = "bad hex(n) type";
      return false;
    }
    ulKind = ulKind * 16 + static_cast<std::uint32_t>(HexDigit(c));
  }
  *pType = ulKind;
  return true;
}

bool ParseData(std::string_view text, std::uint32_t *pType, std::string *pData, std::string *pWhy) {
  if (!text.empty() && text[0] == '"') {
    size_t pos = 0;
    if (!ParseQuoted(text, &pos, pData, pWhy))
      return false;
    if (pos != text.size()) {
      *pWhy = "text after the closing quote";
      return false;
    }
    *pType = TYPE_SZ;
    pData->push_back('\0');
    return true;
  }
  if (text.substr(0, 6) == "dword:")
    return ParseDword(text.substr(6), pType, pData, pWhy);
  size_t colon = text.find(':');
  std::string_view kind = text.substr(0, colon);
  if (colon == std::string_view::npos) {
    *pWhy = "unknown value data";
    return false;
  }
  if (kind == "hex") {
    *pType = TYPE_BINARY;
  } else if (kind.size() > 5 && kind.substr(0, 4) == "hex(" && kind.back() == ')') {
    if (!ParseHexType(kind.substr(4, kind.size() - 5), pType, pWhy))
      return false;
  } else {
    *pWhy = "unknown value data";
    return false;
  }
  return ParseHexBytes(text.substr(colon + 1), pData, pWhy);
}

// "[ROOT\path]" into its root and path, as views into the line.
bool ParseKeyLine(std::string_view line, std::string_view *pRoot, std::string_view *pPath, std::string *pWhy) {
  if (line.size() < 3 || line.back() != ']' || line[1] == '-') {
    *pWhy = "bad key line";
    return false;
  }
  std::string_view full = line.substr(1, line.size() - 2);
  size_t slash = full.find('\\');
  *pRoot = full.substr(0, slash);
  *pPath = slash == std::string_view::npos ? std::string_view() : full.substr(slash + 1);
  for (const char *pucRoot : ROOT_NAMES) {
    if (*pRoot == pucRoot)
      return true;
  }
  *pWhy = "unknown root " + Excerpt(*pRoot);
  return false;
}

// The physical lines of an image: a view of each in turn, without its CR LF, with its number.
struct LineCursor {
  std::string_view text;
  size_t pos = 0;
  size_t number = 0;
};

bool NextLine(LineCursor *pCursor, std::string_view *pLine) {
  if (pCursor->pos >= pCursor->text.size())
    return false;
  const char *pucStart = pCursor->text.data() + pCursor->pos;
  size_t rest = pCursor->text.size() - pCursor->pos;
  const void *pEnd = std::memchr(pucStart, '\n', rest);
  size_t length = pEnd ? static_cast<size_t>(static_cast<const char *>(pEnd) - pucStart) : rest;
  pCursor->pos += length + (pEnd ? 1 : 0);
  ++pCursor->number;
  if (length > 0 && pucStart[length - 1] == '\r')
    --length;
  *pLine = std::string_view(pucStart, length);
  return true;
}

bool PeekLine(const LineCursor &cursor, std::string_view *pLine) {
  LineCursor copy = cursor;
  return NextLine(&copy, pLine);
}

// What a reader has taken so far, against its limits.
struct Taken {
  std::string_view root;
  std::string_view path;
  size_t footprint = 0;
  size_t written = 0;
  size_t values = 0;  // of the last key line
};

// Why a key line is past the limits, "" when it is not; counts what it takes when it is not.
std::string KeyLineBeyond(std::string_view root, std::string_view path, const Limits &limits, Taken *pTaken) {
  if (path.size() > limits.length)
    return "key path longer than " + std::to_string(limits.length) + " bytes";
  size_t common = 0;
  if (root == pTaken->root) {
    while (common < path.size() && common < pTaken->path.size() && path[common] == pTaken->path[common])
      ++common;
  }
  size_t depth = 0;
  bool fShared = true;
  size_t footprint = pTaken->footprint;
  size_t written = pTaken->written;
  for (size_t pos = 0; pos < path.size();) {
    size_t end = std::min(path.find('\\', pos), path.size());
    if (end > pos) {
      ++depth;
      fShared = fShared && end <= common && (end == pTaken->path.size() || pTaken->path[end] == '\\');
      if (!fShared) {
        footprint += limits.keyFootprint;
        written += root.size() + end + 7;  // "[root\path]", CR LF and the blank line
      }
    }
    pos = end + 1;
  }
  if (depth > limits.depth)
    return "key path deeper than " + std::to_string(limits.depth) + " levels";
  if (footprint > limits.footprint || written > limits.written)
    return "more keys and values than the reader takes from an image of this size";
  *pTaken = Taken{root, path, footprint, written, 0};
  return "";
}

// One reading of an image, line by line.
class Reader {
 public:
  Reader(bool fStrict, const Callbacks &callbacks, const Limits &limits, std::string *pError)
      : fStrict_(fStrict), callbacks_(callbacks), limits_(limits), pError_(pError) {}

  bool Run(std::string_view image) {
    while (!image.empty() && (image.back() == '\x1a' || image.back() == '\r' || image.back() == '\n'))
      image.remove_suffix(1);
    cursor_ = LineCursor{image};
    std::string_view line;
    if (!NextLine(&cursor_, &line) || line != "REGEDIT4") {
      *pError_ = "line 1: REGEDIT4 header expected";
      return false;
    }
    while (NextLine(&cursor_, &line)) {
      const size_t lineNumber = cursor_.number;
      why_.clear();
      if (line.empty() || line[0] == ';')
        continue;
      bool fGoOn = line[0] == '[' ? TakeKeyLine(line, lineNumber) : TakeValueLine(line, lineNumber);
      if (!fGoOn)
        return false;
    }
    return true;
  }

 private:
  // A line it cannot read, for why_: the end of a strict reading (false), else one skipped.
  bool Unreadable(size_t lineNumber) {
    if (fStrict_) {
      *pError_ = "line " + std::to_string(lineNumber) + ": " + why_;
      return false;
    }
    if (callbacks_.onSkip)
      callbacks_.onSkip(lineNumber, why_);
    return true;
  }

  bool TakeKeyLine(std::string_view line, size_t lineNumber) {
    std::string_view root;
    std::string_view path;
    if (ParseKeyLine(line, &root, &path, &why_) && (why_ = KeyLineBeyond(root, path, limits_, &taken_)).empty()) {
      state_ = IN_KEY;
      if (callbacks_.onKey)
        callbacks_.onKey(root, path);
      return true;
    }
    // A line that only starts like a key (the rest of a text with a line break, say) is one
    // bad line; a key line that names no key takes its values with it.
    if (!fStrict_ && line.back() == ']') {
      state_ = IN_SKIPPED_KEY;
      why_ += "; the key's values are skipped with it";
    }
    return Unreadable(lineNumber);
  }

  bool TakeValueLine(std::string_view line, size_t lineNumber) {
    bool fValueLine = line[0] == '"' || line[0] == '@';
    size_t pos = 0;
    bool fNamed = fValueLine && ParseName(line, &pos);
    std::string_view text = WholeValue(line, fNamed && pos + 1 < line.size() && line[pos + 1] == '"');
    if (state_ == IN_SKIPPED_KEY)
      return true;
    if (!fValueLine)
      why_ = "value or key line expected";
    else if (state_ == NO_KEY)
      why_ = "value before any key";
    else if (fNamed && TakeValue(text.substr(pos + 1)))
      return true;
    return Unreadable(lineNumber);
  }

  // The value's name, up to the '=' at *pPos.
  bool ParseName(std::string_view line, size_t *pPos) {
    bool fNamed = true;
    if (line[0] == '@') {
      name_.clear();
      *pPos = 1;
    } else {
      fNamed = ParseQuoted(line, pPos, &name_, &why_);
    }
    if (fNamed && (*pPos >= line.size() || line[*pPos] != '=')) {
      why_ = "'=' expected after the value name";
      fNamed = false;
    }
    return fNamed;
  }

  // The line with the lines it continues onto. Only binary data wraps, and never onto a key
  // line: a text that ends in a backslash ends there.
  std::string_view WholeValue(std::string_view line, bool fText) {
    if (fText || line.back() != '\\')
      return line;
    joined_.assign(line.data(), line.size());
    std::string_view next;
    while (!joined_.empty() && joined_.back() == '\\' && PeekLine(cursor_, &next) && (next.empty() || next[0] != '[')) {
      NextLine(&cursor_, &next);
      joined_.pop_back();
      size_t first = next.find_first_not_of(' ');
      if (first != std::string_view::npos)
        joined_.append(next.data() + first, next.size() - first);
    }
    return joined_;
  }

  bool TakeValue(std::string_view text) {
    std::uint32_t ulType = 0;
    if (!ParseData(text, &ulType, &data_, &why_))
      return false;
    size_t footprint = taken_.footprint + limits_.valueFootprint + name_.size() + data_.size() +
                       (taken_.values + 1 >= limits_.indexedValues ? limits_.indexFootprint : 0);
    if (footprint > limits_.footprint) {
      why_ = "more keys and values than the reader takes from an image of this size";
      return false;
    }
    taken_.footprint = footprint;
    ++taken_.values;
    if (callbacks_.onValue)
      callbacks_.onValue(std::string_view(name_), ulType, std::string_view(data_));
    return true;
  }

  const bool fStrict_;
  const Callbacks &callbacks_;
  const Limits &limits_;
  std::string *pError_;
  LineCursor cursor_;
  enum { NO_KEY, IN_KEY, IN_SKIPPED_KEY } state_ = NO_KEY;
  Taken taken_;
  std::string name_;
  std::string data_;
  std::string joined_;
  std::string why_;
};

// "hex:" for binary data, "hex(n):" for any other type.
void AppendHexKind(std::string *pOut, std::uint32_t ulType) {
  if (ulType == TYPE_BINARY) {
    pOut->append("hex:");
    return;
  }
  char ucKind[16];
  int iDigits = 0;
  for (std::uint32_t ulRest = ulType; iDigits == 0 || ulRest != 0; ulRest >>= 4)
    ucKind[iDigits++] = HEX_DIGITS[ulRest & 15];
  pOut->append("hex(");
  while (iDigits > 0)
    pOut->push_back(ucKind[--iDigits]);
  pOut->append("):");
}

}  // namespace

void AppendValueLine(std::string *pOut, std::string_view name, std::uint32_t ulType, std::string_view data) {
  size_t lineStart = pOut->size();
  if (name.empty()) {
    pOut->append("@=");
  } else {
    AppendQuoted(pOut, name);
    pOut->push_back('=');
  }
  bool fPlainText = !data.empty() && data.back() == '\0';
  for (size_t i = 0; fPlainText && i + 1 < data.size(); ++i)
    fPlainText = data[i] != '\0' && data[i] != '\r' && data[i] != '\n';
  if (ulType == TYPE_SZ && fPlainText) {
    AppendQuoted(pOut, data.substr(0, data.size() - 1));
    return;
  }
  if (ulType == TYPE_DWORD && data.size() == 4) {
    pOut->append("dword:");
    for (int i = 3; i >= 0; --i) {
      unsigned char ucByte = static_cast<unsigned char>(data[static_cast<size_t>(i)]);
      pOut->push_back(HEX_DIGITS[ucByte >> 4]);
      pOut->push_back(HEX_DIGITS[ucByte & 15]);
    }
    return;
  }
  AppendHexKind(pOut, ulType);
  AppendHex(pOut, pOut->size() - lineStart, data);
}

std::string ValueLine(const std::string &name, std::uint32_t ulType, const std::string &data) {
  std::string line;
  AppendValueLine(&line, name, ulType, data);
  return line;
}

bool Read(std::string_view image, bool fStrict, const Callbacks &callbacks, std::string *pError, const Limits &limits) {
  return Reader(fStrict, callbacks, limits, pError).Run(image);
}

bool ParseImage(const std::string &image, std::vector<Operation> *pOps, std::string *pError) {
  Operation key{"", "", false, "", 0, ""};
  Callbacks callbacks;
  callbacks.onKey = [&](std::string_view root, std::string_view path) {
    key.root.assign(root.data(), root.size());
    key.path.assign(path.data(), path.size());
    pOps->push_back(key);
  };
  callbacks.onValue = [&](std::string_view name, std::uint32_t ulType, std::string_view data) {
    pOps->push_back(Operation{key.root, key.path, true, std::string(name), ulType, std::string(data)});
  };
  return Read(image, true, callbacks, pError);
}

}  // namespace regedit
