// Recognising the package's own INF files.
#ifndef UNINST_INF_INFOWNERSHIP_H
#define UNINST_INF_INFOWNERSHIP_H

/// 1 when the INF file at pucPath is a USB class INF whose provider is the printer brand, given
/// literally or through a [Strings] key; 0 otherwise, also when the file cannot be read.
int IsPackageInf(const char *pucPath);

/// The same test on a text already in memory: pucText ends with a NUL (it may hold an earlier
/// one, which ends the text) and ulSize is the length of the file it came from.
int IsPackageInfText(const char *pucText, unsigned long ulSize);

#endif
