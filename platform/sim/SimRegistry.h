// The simulated registry's key tree as the calls above it use it: keys by id, their values and
// paths, and the walks down and through the tree. Relies on the machine record and the path rules.
#ifndef UNINST_PLATFORM_SIM_SIMREGISTRY_H
#define UNINST_PLATFORM_SIM_SIMREGISTRY_H

#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/SimMachine.h"

namespace sim {

/// The registry as Reset() leaves it: the HKEY_LOCAL_MACHINE and HKEY_DYN_DATA roots, no keys.
void ResetRegistry();
RegKey &Key(KeyId id);
RegRoot *RootByHandle(os::HKEY hKey);
/// The root of that name, added when missing.
RegRoot &AddRoot(std::string_view name);
/// The root a key hangs under (null for a key no longer in the tree).
const RegRoot *RootOf(KeyId key);
/// The key's full path with the root's name, each name as spelt in the registry.
std::string KeyPath(const RegRoot &root, KeyId key);

/// base with each name of path appended as given: the path a call names before it is looked up.
std::string JoinKeyPath(const std::string &base, std::string_view path);
/// The key that path names below key, ignoring ASCII case; NO_KEY when one on the way is missing.
/// *pSpelt (when given) gets each name appended as spelt in the registry.
KeyId FindKey(KeyId key, std::string_view path, std::string *pSpelt = nullptr);
/// The same key, made with its missing parents.
KeyId MakeKey(KeyId key, std::string_view path);
/// Takes a live key and its subtree out of the tree; handles open on them see them deleted.
void DetachKey(KeyId key);

/// The value of that name, ignoring ASCII case, or null.
RegValue *ValueOf(KeyId key, std::string_view name);
/// Removes a value of the key; the values after it move down one index.
void RemoveValue(KeyId key, const RegValue *pValue);

/// each(key, path) for each key of a subtree, parents first, in enumeration order, with the key's
/// full path built on the way down. Walked without recursion: a tree made through the API can be
/// as deep as it has keys.
template <typename F>
void ForEachInSubtree(KeyId top, const std::string &topPath, F each) {
  struct Pending {
    KeyId id;
    size_t parentLength;  // of the parent's path, npos for the top
  };
  std::vector<Pending> pending{{top, std::string::npos}};
  std::string path;
  while (!pending.empty()) {
    Pending next = pending.back();
    pending.pop_back();
    const RegKey &key = Key(next.id);
    if (next.parentLength == std::string::npos) {
      path = topPath;
    } else {
      path.resize(next.parentLength);
      path.push_back('\\');
      path += key.name;
    }
    each(key, path);
    for (auto it = key.children.rbegin(); it != key.children.rend(); ++it)
      pending.push_back({*it, path.size()});
  }
}
/// Copies of the keys of a subtree, parents first, appended to *pKeys.
void CollectSubtree(const RegRoot &root, KeyId top, std::vector<RegistryKey> *pKeys);

}  // namespace sim

#endif
