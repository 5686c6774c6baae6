// How a REGEDIT4 file is read and how it writes a value, shared by uninst-sim and the Wine-side
// seeding and export of the end-to-end runs, so that both take and write the same text. The
// reader goes through the text once, handing each key and value to the caller as views into
// reused buffers: a whole-registry export of tens of megabytes is read without a copy per line.
// Strict, it stops at the first line it cannot read; otherwise it skips such lines as Windows'
// own import does and names each. Text stays in the file's code page: nothing is converted.
#ifndef UNINST_TOOLS_FORMATS_REGEDIT_H
#define UNINST_TOOLS_FORMATS_REGEDIT_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/formats/KeyLimits.h"

namespace regedit {

const std::uint32_t TYPE_SZ = 1;
const std::uint32_t TYPE_BINARY = 3;
const std::uint32_t TYPE_DWORD = 4;

// ---- writing ------------------------------------------------------------------------------

/// The first line of an image and the blank line after it.
const char IMAGE_HEADER[] = "REGEDIT4\r\n\r\n";

/// A value's line (without its line end). data is the value's raw bytes; a text value holds its
/// terminating NUL. A text holding a line break is written as hex(1), so that it reads back.
void AppendValueLine(std::string *pOut, std::string_view name, std::uint32_t ulType, std::string_view data);
std::string ValueLine(const std::string &name, std::uint32_t ulType, const std::string &data);

/// A key's block: "[path]", a line per value (each with .name, .dwType, .data) and a blank line.
template <typename Values>
void AppendKey(std::string *pOut, std::string_view path, const Values &values) {
  pOut->push_back('[');
  pOut->append(path);
  pOut->append("]\r\n");
  for (const auto &value : values) {
    AppendValueLine(pOut, value.name, value.dwType, value.data);
    pOut->append("\r\n");
  }
  pOut->append("\r\n");
}

/// The keys (each with .path and .values) as an image, in the order given.
template <typename Keys>
std::string Image(const Keys &keys) {
  std::string out = IMAGE_HEADER;
  for (const auto &key : keys)
    AppendKey(&out, key.path, key.values);
  return out;
}

// ---- reading ------------------------------------------------------------------------------

/// What a reader takes of an image; past any of it a line is one it cannot read. The keys a key
/// line names are counted from the deepest key it shares with the last key line taken: as many as
/// an import may have to make. Unlimited unless given.
struct Limits : formats::KeyLimits {
  size_t footprint = SIZE_MAX;  // of the keys and values named, as KeyLimits estimates them
  size_t written = SIZE_MAX;    // bytes of the key lines an image of the keys named takes
};

/// What the reader hands on; the views last until the next call.
struct Callbacks {
  std::function<void(std::string_view root, std::string_view path)> onKey;
  std::function<void(std::string_view name, std::uint32_t ulType, std::string_view data)> onValue;
  std::function<void(size_t line, const std::string &why)> onSkip;
};

/// Reads an image, calling onKey for each key line and onValue for each value of the last key.
/// Strict, the first line it cannot read ends the reading (false, *pError = "line N: why");
/// otherwise onSkip(N, why) names it and the reading goes on: a value continued over several lines
/// is one skip, named by its first line, and a key line it cannot read takes the lines up to the
/// next key line with it. Only a text that does not start with the REGEDIT4 line is refused either
/// way. A Ctrl-Z and line ends at the very end, as DOS tools leave them, are no lines. Callbacks
/// left empty are not called.
bool Read(std::string_view image, bool fStrict, const Callbacks &callbacks, std::string *pError,
          const Limits &limits = Limits());

/// An image read whole (strictly) into a list of operations, so that a malformed image is
/// refused before any of it is applied.
struct Operation {
  std::string root;
  std::string path;
  bool fValue;
  std::string name;
  std::uint32_t ulType;
  std::string data;
};
bool ParseImage(const std::string &image, std::vector<Operation> *pOps, std::string *pError);

}  // namespace regedit

#endif
