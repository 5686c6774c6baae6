// A machine image's drive/ folder: a host folder holding what the machine's C: drive holds. It is
// a user's folder: only plain files and folders are taken, and no link is ever followed.
#ifndef UNINST_TOOLS_FORMATS_FOLDERIMAGE_H
#define UNINST_TOOLS_FORMATS_FOLDERIMAGE_H

#include <string>
#include <vector>

#include "tools/formats/Names.h"

namespace formats {

/// Thrown when an entry checked before can no longer be listed or read. The message is one line
/// naming its host path.
struct FolderImageError {
  std::string message;
};

/// "" when every entry under the folder is a plain file or a folder (links included: none is
/// followed) and each folder's names pass namesCheck, or the one-line reason naming the first
/// entry that does not.
std::string CheckFolderImage(const std::string &image, const NamesCheck &namesCheck);
/// A folder's entries; folder is a path relative to the image, names joined by '/', "" for the
/// image itself. Throws FolderImageError.
std::vector<FolderEntryName> ListFolderImage(const std::string &image, const std::string &folder);
/// A file's bytes (its path as ListFolderImage takes a folder's). Throws FolderImageError.
std::string ReadFolderImageFile(const std::string &image, const std::string &file);

}  // namespace formats

#endif
