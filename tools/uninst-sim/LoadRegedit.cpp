// The registry of the simulated machine from a REGEDIT4 image, and back to one. Keys are added
// under their parent, never looked up from the root.
#include "tools/formats/Regedit.h"
#include "tools/uninst-sim/Load.h"

namespace uninstsim {

namespace {

const size_t CHUNK = 1 << 20;
// Past the first thousand, skipped lines are counted rather than listed: an export of short
// garbage lines would otherwise list many times what it holds.
const size_t LISTED_SKIPS = 1000;

// The key lines of an image: a scan for '[' costs little beside the reading, and lets the store
// and its name index be made once at their size rather than copied as they grow.
size_t KeyLines(std::string_view image) {
  size_t keyLines = 0;
  for (size_t pos = image.find('['); pos != std::string_view::npos; pos = image.find('[', pos + 1))
    keyLines += pos == 0 || image[pos - 1] == '\n' ? 1 : 0;
  return keyLines;
}

// What an export may make the machine hold and write back, against its own size: a key takes
// about 128 bytes here, a value 96 and 80 more in the index of a key with many, and a key line
// of a few hundred bytes can name 64 keys, each written back with its whole path. Real exports,
// whose keys take some 200 bytes of text each, stay below.
regedit::Limits ImportLimits(size_t imageSize) {
  regedit::Limits limits;
  static_cast<formats::KeyLimits &>(limits) = MachineKeyLimits();
  limits.footprint = imageSize * 5 / 2 + (size_t(48) << 20);  // the estimates run up to a fifth short
  limits.written = 6 * imageSize + (size_t(64) << 10);
  return limits;
}

// An export lists parents before their subkeys: a key line is found from the deepest key it
// shares with the line before it, not from its root.
class KeyLineWalk {
 public:
  sim::KeyRef KeyOf(std::string_view root, std::string_view path) {
    size_t depth = root == lastRoot_ ? SharedDepth(path) : 0;
    ends_.resize(depth);
    ids_.resize(depth);
    sim::KeyRef current = depth > 0 ? ids_.back() : sim::RootKey(root);
    size_t pos = depth > 0 ? ends_.back() : 0;
    while (pos < path.size()) {
      size_t slash = path.find('\\', pos);
      size_t end = slash == std::string_view::npos ? path.size() : slash;
      if (end > pos) {
        current = sim::Subkey(current, path.substr(pos, end - pos));
        ends_.push_back(end);
        ids_.push_back(current);
      }
      pos = end + 1;
    }
    lastRoot_ = root;
    lastPath_ = path;
    return current;
  }

 private:
  // How many names of the last key line's path the path begins with.
  size_t SharedDepth(std::string_view path) const {
    size_t common = 0;
    while (common < path.size() && common < lastPath_.size() && path[common] == lastPath_[common])
      ++common;
    size_t depth = 0;
    while (depth < ends_.size() && ends_[depth] <= common &&
           (ends_[depth] == path.size() || path[ends_[depth]] == '\\'))
      ++depth;
    return depth;
  }

  std::string_view lastRoot_;
  std::string_view lastPath_;
  std::vector<size_t> ends_;      // where each name of lastPath_ ends
  std::vector<sim::KeyRef> ids_;  // the key up to that name
};

// The skipped lines: the first thousand listed, one more entry standing for the rest.
class SkipList {
 public:
  explicit SkipList(std::vector<SkippedLine> *pSkipped) : pSkipped_(pSkipped) {}

  void Add(size_t line, const std::string &why) {
    if (pSkipped_->size() < LISTED_SKIPS)
      pSkipped_->push_back(SkippedLine{"", line, why, 1});
    else if (unlistedCount_++ == 0)
      unlisted_.line = line;
  }

  void Close() {
    if (unlistedCount_ == 0)
      return;
    unlisted_.why = "this line and " + std::to_string(unlistedCount_ - 1) + " more skipped, not listed";
    unlisted_.count = unlistedCount_;
    pSkipped_->push_back(unlisted_);
  }

 private:
  std::vector<SkippedLine> *pSkipped_;
  SkippedLine unlisted_{"", 0, "", 1};
  size_t unlistedCount_ = 0;
};

// The reading that loads: strict without pSkipped, else past the lines it skips.
bool ReadInto(std::string_view image, const regedit::Limits &limits, std::vector<SkippedLine> *pSkipped,
              std::string *pError) {
  KeyLineWalk walk;
  sim::KeyRef current = 0;
  regedit::Callbacks callbacks;
  callbacks.onKey = [&](std::string_view root, std::string_view path) { current = walk.KeyOf(root, path); };
  callbacks.onValue = [&](std::string_view name, std::uint32_t ulType, std::string_view data) {
    sim::PutValue(current, name, ulType, data);
  };
  if (pSkipped == nullptr)
    return regedit::Read(image, true, callbacks, pError, limits);
  SkipList skips(pSkipped);
  callbacks.onSkip = [&](size_t line, const std::string &why) { skips.Add(line, why); };
  bool fRead = regedit::Read(image, false, callbacks, pError, limits);
  skips.Close();
  return fRead;
}

}  // namespace

formats::KeyLimits MachineKeyLimits() {
  formats::KeyLimits limits;
  limits.depth = MAX_KEY_DEPTH;
  limits.length = MAX_KEY_PATH;
  limits.keyFootprint = sim::KEY_FOOTPRINT;
  limits.valueFootprint = sim::VALUE_FOOTPRINT;
  limits.indexFootprint = sim::INDEX_FOOTPRINT;
  limits.indexedValues = sim::INDEXED_VALUES;
  return limits;
}

bool ImportRegistry(std::string_view image, std::string *pError, std::vector<SkippedLine> *pSkipped) {
  std::string error;
  sim::ReserveKeys(KeyLines(image));
  const regedit::Limits limits = ImportLimits(image.size());
  // Strict, the image is checked whole first so that a malformed one leaves the registry as it was.
  bool fRead = pSkipped != nullptr || regedit::Read(image, true, regedit::Callbacks(), &error, limits);
  if (fRead)
    fRead = ReadInto(image, limits, pSkipped, &error);
  if (!fRead && pError)
    *pError = error;
  return fRead;
}

void ExportRegistry(const std::function<void(const std::string &)> &write) {
  std::string out = regedit::IMAGE_HEADER;
  out.reserve(CHUNK + (CHUNK >> 2));
  sim::ForEachKey([&](const std::string &path, const std::vector<sim::RegistryValue> &values) {
    regedit::AppendKey(&out, path, values);
    if (out.size() >= CHUNK) {
      write(out);
      out.clear();
    }
  });
  write(out);
}

std::string ExportRegistry() {
  std::string image;
  ExportRegistry([&image](const std::string &chunk) { image += chunk; });
  return image;
}

std::string RegeditImage(const std::vector<sim::RegistryKey> &keys) {
  return regedit::Image(keys);
}

}  // namespace uninstsim
