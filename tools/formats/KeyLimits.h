// What a reader of a registry takes of a user's file, so that the machine it is loaded onto holds
// no more than a small multiple of the file: key paths no deeper or longer than real registries
// come near, and the memory keys and values take there, estimated as the reader goes.
#ifndef UNINST_TOOLS_FORMATS_KEYLIMITS_H
#define UNINST_TOOLS_FORMATS_KEYLIMITS_H

#include <cstddef>
#include <cstdint>

namespace formats {

struct KeyLimits {
  std::size_t depth = SIZE_MAX;   // names below the root
  std::size_t length = SIZE_MAX;  // bytes below the root, separators included
  // What a key and a value take where they are loaded, besides their names and data, and what a
  // value takes more from the indexedValues-th of its key on.
  std::size_t keyFootprint = 0;
  std::size_t valueFootprint = 0;
  std::size_t indexFootprint = 0;
  std::size_t indexedValues = SIZE_MAX;
};

}  // namespace formats

#endif
