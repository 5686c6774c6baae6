#include "platform/text.h"

#include <cstring>

void CopyText(char *pucDest, std::size_t ulSize, const char *pucSource) {
  if (ulSize == 0)
    return;
  pucDest[0] = '\0';
  AppendText(pucDest, ulSize, pucSource);
}

void AppendText(char *pucDest, std::size_t ulSize, const char *pucSource) {
  std::size_t ulUsed = strnlen(pucDest, ulSize);
  if (ulUsed >= ulSize)
    return;
  std::size_t ulRoom = ulSize - 1 - ulUsed;
  std::size_t ulLength = strnlen(pucSource, ulRoom);
  std::memcpy(pucDest + ulUsed, pucSource, ulLength);
  pucDest[ulUsed + ulLength] = '\0';
}

static char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

int EqualNoCase(const char *pucLeft, const char *pucRight) {
  for (; *pucLeft != '\0' && *pucRight != '\0'; ++pucLeft, ++pucRight) {
    if (LowerAscii(*pucLeft) != LowerAscii(*pucRight))
      return 0;
  }
  return *pucLeft == *pucRight;
}

int CountChar(const char *pucText, char c) {
  int iCount = 0;
  for (; *pucText != '\0'; ++pucText) {
    if (*pucText == c)
      ++iCount;
  }
  return iCount;
}
