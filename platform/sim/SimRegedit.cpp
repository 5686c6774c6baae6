// REGEDIT4 images of the simulated registry, in the form Windows 98's regedit writes them.

#include "platform/sim/RegeditText.h"
#include "platform/sim/SimMachine.h"

namespace sim {

namespace {

// Each key of a subtree, depth first without recursion (a tree made through the API can be as
// deep as it has keys), with the key's full path built on the way down.
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

void CollectKey(const RegRoot &root, KeyId id, std::vector<RegistryKey> *pKeys) {
  ForEachInSubtree(id, KeyPath(root, id), [&](const RegKey &key, const std::string &path) {
    RegistryKey collected{path, {}};
    for (const RegValue &value : key.values)
      collected.values.push_back(RegistryValue{value.name, value.dwType, value.data});
    pKeys->push_back(std::move(collected));
  });
}

const size_t CHUNK = 1 << 20;

template <typename Values>
void AppendKey(const std::string &path, const Values &values, std::string *pOut) {
  pOut->push_back('[');
  *pOut += path;
  pOut->append("]\r\n");
  for (const auto &value : values) {
    regedit::AppendValueLine(pOut, value.name, value.dwType, value.data);
    pOut->append("\r\n");
  }
  pOut->append("\r\n");
}

}  // namespace

void RecordRemovedKey(KeyId key) {
  if (const RegRoot *pRoot = RootOf(key))
    CollectKey(*pRoot, key, &M().changes.removedKeys);
}

void RecordRemovedValue(KeyId key, const RegValue &value) {
  if (const RegRoot *pRoot = RootOf(key))
    M().changes.removedValues.push_back(
        RemovedValue{KeyPath(*pRoot, key), RegistryValue{value.name, value.dwType, value.data}});
}

bool ImportRegistry(std::string_view image, std::string *pError, std::vector<SkippedLine> *pSkipped) {
  std::string error;
  // The key lines counted first (a scan for '[' costs little beside the reading), so that the
  // store and its name index are made once at their size rather than copied as they grow.
  size_t keyLines = 0;
  for (size_t pos = image.find('['); pos != std::string_view::npos; pos = image.find('[', pos + 1))
    keyLines += pos == 0 || image[pos - 1] == '\n' ? 1 : 0;
  ReserveKeys(keyLines);
  auto noKey = [](std::string_view, std::string_view) {};
  auto noValue = [](std::string_view, std::uint32_t, std::string_view) {};
  auto noSkip = [](size_t, const std::string &) {};
  // Strict, the image is checked whole first so that a malformed one leaves the registry as it was.
  // What an export may make the machine hold and write back, against its own size: a key takes
  // about 128 bytes here, a value 96 and 80 more in the index of a key with many, and a key line
  // of a few hundred bytes can name 64 keys, each written back with its whole path. Real exports,
  // whose keys take some 200 bytes of text each, stay below.
  regedit::Limits limits;
  limits.depth = MAX_KEY_DEPTH;
  limits.length = MAX_KEY_PATH;
  limits.keyFootprint = KEY_FOOTPRINT;
  limits.valueFootprint = VALUE_FOOTPRINT;
  limits.indexFootprint = INDEX_FOOTPRINT;
  limits.indexedValues = INDEXED_VALUES;
  limits.footprint = image.size() * 5 / 2 + (size_t(48) << 20);  // the estimates run up to a fifth short
  limits.written = 6 * image.size() + (size_t(64) << 10);
  bool fRead = pSkipped != nullptr || regedit::Read(image, true, noKey, noValue, noSkip, &error, limits);
  // An export lists parents before their subkeys: a key line is found from the deepest key
  // it shares with the line before it, not from its root.
  std::string_view lastRoot;
  std::string_view lastPath;
  std::vector<size_t> ends;  // where each name of lastPath ends
  std::vector<KeyId> ids;    // the key up to that name
  KeyId current = NO_KEY;
  auto onKey = [&](std::string_view root, std::string_view path) {
    size_t depth = 0;
    if (root == lastRoot) {
      size_t common = 0;
      while (common < path.size() && common < lastPath.size() && path[common] == lastPath[common])
        ++common;
      while (depth < ends.size() && ends[depth] <= common && (ends[depth] == path.size() || path[ends[depth]] == '\\'))
        ++depth;
    }
    ends.resize(depth);
    ids.resize(depth);
    current = depth > 0 ? ids.back() : AddRoot(root).key;
    size_t pos = depth > 0 ? ends.back() : 0;
    while (pos < path.size()) {
      size_t slash = path.find('\\', pos);
      size_t end = slash == std::string_view::npos ? path.size() : slash;
      if (end > pos) {
        current = CreatePath(current, path.substr(pos, end - pos));
        ends.push_back(end);
        ids.push_back(current);
      }
      pos = end + 1;
    }
    lastRoot = root;
    lastPath = path;
  };
  auto onValue = [&](std::string_view name, std::uint32_t ulType, std::string_view data) {
    PutValue(current, name, ulType, data);
  };
  // Past the first thousand, skipped lines are counted rather than listed: an export of short
  // garbage lines would otherwise list many times what it holds.
  const size_t LISTED_SKIPS = 1000;
  SkippedLine unlisted{0, ""};
  size_t unlistedCount = 0;
  auto onSkip = [&](size_t line, const std::string &why) {
    if (pSkipped->size() < LISTED_SKIPS)
      pSkipped->push_back(SkippedLine{line, why});
    else if (unlistedCount++ == 0)
      unlisted.line = line;
  };
  if (fRead)
    fRead = regedit::Read(image, pSkipped == nullptr, onKey, onValue, onSkip, &error, limits);
  if (unlistedCount > 0) {
    unlisted.why = "this line and " + std::to_string(unlistedCount - 1) + " more skipped, not listed";
    unlisted.count = unlistedCount;
    pSkipped->push_back(unlisted);
  }
  if (!fRead && pError)
    *pError = error;
  return fRead;
}

std::vector<RegistryKey> RegistryKeys() {
  std::vector<RegistryKey> keys;
  for (const RegRoot &root : M().roots) {
    for (KeyId child : Key(root.key).children)
      CollectKey(root, child, &keys);
  }
  return keys;
}

void ForEachKey(const std::function<void(const std::string &path, const std::vector<RegistryValue> &values)> &each) {
  for (const RegRoot &root : M().roots) {
    for (KeyId child : Key(root.key).children)
      ForEachInSubtree(child, root.name + "\\" + Key(child).name,
                       [&](const RegKey &key, const std::string &path) { each(path, key.values); });
  }
}

std::string RegeditImage(const std::vector<RegistryKey> &keys) {
  std::string out = "REGEDIT4\r\n\r\n";
  for (const RegistryKey &key : keys)
    AppendKey(key.path, key.values, &out);
  return out;
}

void ExportRegistry(const std::function<void(const std::string &)> &write) {
  std::string out = "REGEDIT4\r\n\r\n";
  out.reserve(CHUNK + (CHUNK >> 2));
  for (const RegRoot &root : M().roots) {
    for (KeyId child : Key(root.key).children) {
      ForEachInSubtree(child, root.name + "\\" + Key(child).name, [&](const RegKey &key, const std::string &path) {
        AppendKey(path, key.values, &out);
        if (out.size() >= CHUNK) {
          write(out);
          out.clear();
        }
      });
    }
  }
  write(out);
}

std::string ExportRegistry() {
  std::string image;
  ExportRegistry([&image](const std::string &chunk) { image += chunk; });
  return image;
}

}  // namespace sim
