// A byte scanner over the raw INF text, not an INF parser: exact, case-sensitive comparisons at
// fixed offsets, with the comment skip at every scan position. Every read stops at the text's
// first NUL, which the block that holds the file always has after the file's bytes.
#include "inf/InfOwnership.h"

#include <cstring>

#include "platform/files.h"
#include "platform/memory.h"
#include "uninstall/UninstallState.h"

namespace {

const char VERSION_HEADER[] = "[Version]";
const char STRINGS_HEADER[] = "[Strings]";
const char CLASS_PATTERN[] = "Class=";
const char PROVIDER_PATTERN[] = "Provider=";
const char BRAND[] = "Talvo";
const char BRAND_VALUE[] = "=\"Talvo\"";
const unsigned long HEADER_LENGTH = sizeof VERSION_HEADER - 1;

int Matches(const char *pucAt, const char *pucPattern) {
  return std::strncmp(pucAt, pucPattern, std::strlen(pucPattern)) == 0;
}

int EndsName(char c) {
  return c == '\r' || c == ';' || c == ' ';
}

// A ';' hides the rest of its line: the position moves just past the next CR, or to the NUL.
unsigned long SkipComment(const char *pucText, unsigned long i) {
  if (pucText[i] != ';')
    return i;
  while (pucText[i] != '\0' && pucText[i] != '\r')
    ++i;
  return pucText[i] == '\0' ? i : i + 1;
}

// The position just after the header, or 0 when it is not in the text.
unsigned long FindSection(const char *pucText, const char *pucHeader) {
  for (unsigned long i = 0;; ++i) {
    i = SkipComment(pucText, i);
    if (pucText[i] == '\0')
      return 0;
    if (Matches(pucText + i, pucHeader))
      return i + HEADER_LENGTH;
  }
}

unsigned long FindSectionEnd(const char *pucText, unsigned long ulStart, unsigned long ulSize) {
  for (unsigned long i = ulStart;; ++i) {
    i = SkipComment(pucText, i);
    if (pucText[i] == '\0')
      return ulSize;
    if (pucText[i] == '[')
      return i;
  }
}

// The position of the first pattern in [ulStart, ulEnd), or 0 when there is none.
unsigned long FindInSection(const char *pucText, unsigned long ulStart, unsigned long ulEnd, const char *pucPattern) {
  for (unsigned long i = ulStart; i < ulEnd; ++i) {
    i = SkipComment(pucText, i);
    if (pucText[i] == '\0' || i >= ulEnd)
      return 0;
    if (Matches(pucText + i, pucPattern))
      return i;
  }
  return 0;
}

// The '%'-enclosed key starting at pucText[i]; its length, or 0 when it has no closing '%'
// or does not fit the key buffer.
unsigned long CopyKey(const char *pucText, unsigned long i, char *ucKey) {
  if (pucText[i] == '\0')
    return 0;
  unsigned long ulLength = 0;
  ucKey[ulLength++] = pucText[i++];
  while (pucText[i] != '%') {
    if (pucText[i] == '\0' || ulLength == TEXT_LIMIT)
      return 0;
    ucKey[ulLength++] = pucText[i++];
  }
  ucKey[ulLength] = '\0';
  return ulLength;
}

// Whether the first full occurrence of the key in [Strings] gives the brand.
int KeyNamesBrand(const char *pucText, unsigned long ulSize, const char *ucKey, unsigned long ulKeyLength) {
  unsigned long ulStart = FindSection(pucText, STRINGS_HEADER);
  if (ulStart == 0)
    return 0;
  unsigned long ulEnd = FindSectionEnd(pucText, ulStart, ulSize);
  unsigned long i = ulStart;
  while (i < ulEnd) {
    i = SkipComment(pucText, i);
    if (pucText[i] == '\0')
      return 0;
    if (pucText[i] != ucKey[0] || ulKeyLength == 1) {
      ++i;
      continue;
    }
    unsigned long k = 1;
    while (k < ulKeyLength && pucText[i + k] == ucKey[k])
      ++k;
    if (k == ulKeyLength)
      return Matches(pucText + i + ulKeyLength, BRAND_VALUE);
    // A mismatch skips the rest of the line and the LF after its CR.
    while (pucText[i] != '\0' && pucText[i] != '\r')
      ++i;
    if (pucText[i] == '\0' || pucText[i + 1] == '\0')
      return 0;
    i += 2;
  }
  return 0;
}

int ProviderIsBrand(const char *pucText, unsigned long ulSize, unsigned long ulStart, unsigned long ulEnd) {
  unsigned long i = FindInSection(pucText, ulStart, ulEnd, PROVIDER_PATTERN);
  if (i == 0)
    return 0;
  const char *pucValue = pucText + i + sizeof PROVIDER_PATTERN - 1;
  if (pucValue[0] == 'T')
    return Matches(pucValue, BRAND) && EndsName(pucValue[sizeof BRAND - 1]);
  if (pucValue[0] != '%')
    return 0;
  char ucKey[TEXT_SIZE];
  unsigned long ulKeyLength = CopyKey(pucText, static_cast<unsigned long>(pucValue + 1 - pucText), ucKey);
  return ulKeyLength != 0 && KeyNamesBrand(pucText, ulSize, ucKey, ulKeyLength);
}

// The file into a zero-filled block one byte longer than the file, left locked at *ppucText;
// 0 when it cannot be read.
os::HGLOBAL ReadWholeFile(os::HANDLE hFile, os::DWORD *pulSize, const char **ppucText) {
  *pulSize = os::GetFileSize(hFile, nullptr);
  if (*pulSize == os::INVALID_FILE_SIZE)
    return nullptr;
  os::HGLOBAL hBlock = os::GlobalAlloc(os::GHND, static_cast<os::SIZE_T>(*pulSize) + 1);
  if (hBlock == nullptr)
    return nullptr;
  void *pBlock = os::GlobalLock(hBlock);
  os::DWORD ulRead = 0;
  if (pBlock != nullptr && os::ReadFile(hFile, pBlock, *pulSize, &ulRead, nullptr) && ulRead == *pulSize) {
    *ppucText = static_cast<const char *>(pBlock);
    return hBlock;
  }
  if (pBlock != nullptr)
    os::GlobalUnlock(hBlock);
  os::GlobalFree(hBlock);
  return nullptr;
}

}  // namespace

int IsPackageInfText(const char *pucText, unsigned long ulSize) {
  unsigned long ulStart = FindSection(pucText, VERSION_HEADER);
  if (ulStart == 0)
    return 0;
  unsigned long ulEnd = FindSectionEnd(pucText, ulStart, ulSize);
  if (ulStart >= ulEnd)
    return 0;
  unsigned long i = FindInSection(pucText, ulStart, ulEnd, CLASS_PATTERN);
  if (i == 0)
    return 0;
  const char *pucClass = pucText + i + sizeof CLASS_PATTERN - 1;
  if (!Matches(pucClass, "USB") || !EndsName(pucClass[3]))
    return 0;
  return ProviderIsBrand(pucText, ulSize, ulStart, ulEnd);
}

int IsPackageInf(const char *pucPath) {
  os::HANDLE hFile = os::CreateFileA(pucPath, os::GENERIC_READ, os::FILE_SHARE_READ, nullptr, os::OPEN_EXISTING,
                                     os::FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hFile == os::INVALID_HANDLE_VALUE)
    return 0;
  os::DWORD ulSize = 0;
  const char *pucText = nullptr;
  os::HGLOBAL hBlock = ReadWholeFile(hFile, &ulSize, &pucText);
  int fOwned = 0;
  if (hBlock != nullptr) {
    fOwned = IsPackageInfText(pucText, ulSize);
    os::GlobalUnlock(hBlock);
    os::GlobalFree(hBlock);
  }
  os::CloseHandle(hFile);
  return fOwned;
}
