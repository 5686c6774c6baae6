// Windows' rules for names and paths as pure text, relying on code page 1252 alone: how names
// compare, which characters a name may hold, how a C:\ path falls into components (separators
// either way, "." and ".." resolved as text, trailing dots and blanks taken off as Win32 takes
// them), search patterns and the 8.3 aliases they also match.
#include "platform/sim/SimPathRules.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>

#include "platform/sim/sim.h"

namespace sim {

namespace {

// Characters no Windows file name holds; '*' and '?' are the search wildcards.
bool IsForbidden(unsigned char c, bool fWildcardsAllowed) {
  if (c < 0x20)
    return true;
  if (c == '*' || c == '?')
    return !fWildcardsAllowed;
  return std::strchr("\"<>|:", c) != nullptr && c != '\0';
}

std::string WithoutTrailingDotsAndBlanks(std::string name) {
  while (!name.empty() && (name.back() == '.' || name.back() == ' '))
    name.pop_back();
  return name;
}

bool OnDriveC(const std::string &winPath) {
  return winPath.size() >= 3 && (winPath[0] == 'C' || winPath[0] == 'c') && winPath[1] == ':' &&
         IsSeparator(winPath[2]);
}

// Adds one component to those before it: ".." removes the last, "." nothing. One followed by a
// separator loses one trailing dot (one still ending in a dot or blank names nothing: no entry
// ends so), the last one every trailing dot and blank.
void AddComponent(std::string part, bool fLast, std::vector<std::string> *pParts) {
  if (part == "..") {
    if (!pParts->empty())
      pParts->pop_back();
    return;
  }
  if (part == ".")
    return;
  if (!fLast && !part.empty() && part.back() == '.')
    part.pop_back();
  if (fLast)
    part = WithoutTrailingDotsAndBlanks(part);
  if (!part.empty())
    pParts->push_back(part);
}

bool IsShortChar(unsigned char c) {
  return c > ' ' && std::strchr("\"*+,./:;<=>?[\\]|", c) == nullptr;
}

// Part of a name as an 8.3 alias holds it: blanks and dots out, the characters an 8.3 name
// cannot hold as '_', ASCII letters upper case, at most limit characters.
std::string ShortPart(const std::string &part, size_t limit) {
  std::string out;
  for (unsigned char c : part) {
    if (c == ' ' || c == '.')
      continue;
    if (out.size() == limit)
      break;
    out += !IsShortChar(c) ? '_' : c < 0x80 ? static_cast<char>(std::toupper(c)) : static_cast<char>(c);
  }
  return out;
}

bool AllShortChars(const std::string &part) {
  return std::all_of(part.begin(), part.end(), [](char c) { return IsShortChar(static_cast<unsigned char>(c)); });
}

}  // namespace

char FoldChar(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Fold(const std::string &text) {
  std::string folded = text;
  for (char &c : folded)
    c = FoldChar(c);
  return folded;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && FoldChar(a[i]) != FoldChar(b[i]))
      return false;
  }
  return true;
}

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

bool SplitWinPath(const std::string &winPath, std::vector<std::string> *pParts) {
  pParts->clear();
  if (!OnDriveC(winPath))
    return false;
  std::string part;
  for (size_t i = 3; i <= winPath.size(); ++i) {
    if (i < winPath.size() && !IsSeparator(winPath[i])) {
      part += winPath[i];
      continue;
    }
    AddComponent(part, i == winPath.size(), pParts);
    part.clear();
  }
  return true;
}

std::string NormalPath(const std::string &winPath) {
  std::vector<std::string> parts;
  if (!SplitWinPath(winPath, &parts))
    return "";
  std::string path = "C:";
  for (const std::string &part : parts)
    path += "\\" + part;
  return parts.empty() ? "C:\\" : path;
}

bool ValidNames(const std::vector<std::string> &parts, bool fLastMayHoldWildcards) {
  for (size_t i = 0; i < parts.size(); ++i) {
    bool fWildcards = fLastMayHoldWildcards && i + 1 == parts.size();
    for (unsigned char c : parts[i]) {
      if (IsForbidden(c, fWildcards))
        return false;
    }
  }
  return true;
}

bool SplitSearch(const std::string &spec, std::vector<std::string> *pParts) {
  size_t slash = spec.find_last_of("\\/");
  if (slash == std::string::npos || slash < 2 || !SplitWinPath(spec.substr(0, slash + 1), pParts))
    return false;
  bool fFolderValid = ValidNames(*pParts, false);
  std::string pattern = spec.substr(slash + 1);
  pParts->push_back(pattern == "." || pattern == ".." ? pattern : WithoutTrailingDotsAndBlanks(pattern));
  return fFolderValid;
}

// Walked without recursion: on a mismatch the last '*' takes one byte more and the match goes on
// from there. An earlier '*' need never be tried again, as the last one can take whatever it would.
bool WildcardMatch(const char *pucPattern, const char *pucName) {
  const char *pucStar = nullptr;   // the last '*' met
  const char *pucRetry = nullptr;  // where the name stood when it was met, plus what it took
  while (*pucName != '\0') {
    if (*pucPattern == '*') {
      pucStar = pucPattern++;
      pucRetry = pucName;
    } else if (*pucPattern != '\0' && (*pucPattern == '?' || FoldChar(*pucPattern) == FoldChar(*pucName))) {
      ++pucPattern;
      ++pucName;
    } else if (pucStar != nullptr) {
      pucPattern = pucStar + 1;
      pucName = ++pucRetry;
    } else {
      return false;
    }
  }
  while (*pucPattern == '*')
    ++pucPattern;
  return *pucPattern == '\0';
}

bool IsShortName(const std::string &name) {
  size_t dot = name.find('.');
  std::string base = name.substr(0, dot);
  std::string extension = dot == std::string::npos ? "" : name.substr(dot + 1);
  return !base.empty() && base.size() <= 8 && extension.size() <= 3 && AllShortChars(base) &&
         AllShortChars(extension) && (dot == std::string::npos || dot + 1 < name.size());
}

// Six characters of the base (fewer for a longer tail), three of the extension; a leading dot
// starts no extension.
std::string ShortAlias(const std::string &name, int n) {
  size_t lastDot = name.find_last_of('.');
  if (lastDot == 0)
    lastDot = std::string::npos;
  std::string tail = "~" + std::to_string(n);
  std::string base = ShortPart(name.substr(0, lastDot), 8 - tail.size());
  std::string extension = lastDot == std::string::npos ? "" : ShortPart(name.substr(lastDot + 1), 3);
  return base + tail + (extension.empty() ? "" : "." + extension);
}

std::string FolderNamesProblem(const std::vector<std::string> &hostNames, std::string *pName) {
  std::map<std::string, std::string> byFoldedName;
  for (const std::string &hostName : hostNames) {
    *pName = hostName;
    std::string name;
    if (!Cp1252FromUtf8(hostName, &name))
      return "a name with no code page 1252 form";
    if (WithoutTrailingDotsAndBlanks(name) != name || !ValidNames({name}, false))
      return "a name Windows cannot hold";
    auto inserted = byFoldedName.emplace(Fold(name), hostName);
    if (!inserted.second)
      return "differs only in case from " + inserted.first->second + " (Windows cannot hold both)";
  }
  pName->clear();
  return "";
}

}  // namespace sim
