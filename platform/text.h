// Byte-string helpers of the C-runtime kind: copy and append into fixed buffers with a bound,
// and the ASCII case-insensitive comparison the program uses for names.
#ifndef UNINST_PLATFORM_TEXT_H
#define UNINST_PLATFORM_TEXT_H

#include <cstddef>

/// Copies pucSource into pucDest (ulSize bytes), cut to fit; always NUL-terminated.
void CopyText(char *pucDest, std::size_t ulSize, const char *pucSource);
/// Appends pucSource to the text in pucDest (ulSize bytes), cut to fit; always NUL-terminated.
void AppendText(char *pucDest, std::size_t ulSize, const char *pucSource);
/// Whether two texts are equal ignoring the case of ASCII letters.
int EqualNoCase(const char *pucLeft, const char *pucRight);
/// Number of occurrences of c in pucText.
int CountChar(const char *pucText, char c);

#endif
