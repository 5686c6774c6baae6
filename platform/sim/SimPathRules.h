// Windows' rules for names and paths, as pure text: the machine's state is never read here. What
// the drive and the file calls above share; Fold(), SameName() and FolderNamesProblem() are in
// sim.h, code page 1252 in SimCodePage.cpp.
#ifndef UNINST_PLATFORM_SIM_SIMPATHRULES_H
#define UNINST_PLATFORM_SIM_SIMPATHRULES_H

#include <string>
#include <vector>

namespace sim {

bool IsSeparator(char c);
/// The components of a C:\ path after Windows' normalisation; false when it is not one.
bool SplitWinPath(const std::string &winPath, std::vector<std::string> *pParts);
/// Whether Windows takes every component as a name; the last may hold '*' and '?' when told.
bool ValidNames(const std::vector<std::string> &parts, bool fLastMayHoldWildcards);
/// A search specification: the folder's components, then the pattern, which may be empty (a
/// specification ending in a separator matches nothing). False when it is not a C:\ path or a
/// folder name holds a character Windows refuses.
bool SplitSearch(const std::string &spec, std::vector<std::string> *pParts);
/// Whether a name matches a search pattern ('*' any run, '?' one byte), ignoring ASCII case.
bool WildcardMatch(const char *pucPattern, const char *pucName);
/// Whether a name is already an 8.3 name (its alias is itself, whatever its case).
bool IsShortName(const std::string &name);
/// The 8.3 alias Windows 98 gives a long name, with tail ~n.
std::string ShortAlias(const std::string &name, int n);

}  // namespace sim

#endif
