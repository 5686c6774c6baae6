// What a reader of a drive's folders asks its caller of each folder's names before it takes the
// folder: whether the machine the folder goes onto can hold them.
#ifndef UNINST_TOOLS_FORMATS_NAMES_H
#define UNINST_TOOLS_FORMATS_NAMES_H

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace formats {

/// Why the host names (UTF-8) of one folder cannot be taken, *pName being the first such name;
/// "" when they can.
using NamesCheck = std::function<std::string(const std::vector<std::string> &names, std::string *pName)>;

/// A folder's entry: its host name (UTF-8) and whether it is a folder.
using FolderEntryName = std::pair<std::string, bool>;

}  // namespace formats

#endif
