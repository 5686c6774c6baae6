// What uninst-sim loads onto the simulated machine before a run: a machine image's drive/ folder
// and registry.reg, a customer's registry export, a Windows 9x registry file or its backup
// cabinet, or a raw disk image; and the machine's registry written back as an export. The file
// formats are read by tools/formats/; here their contents become the machine's.
#ifndef UNINST_TOOLS_UNINST_SIM_LOAD_H
#define UNINST_TOOLS_UNINST_SIM_LOAD_H

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/sim.h"
#include "tools/formats/FatDisk.h"
#include "tools/formats/KeyLimits.h"
#include "tools/uninst-sim/UninstSim.h"

namespace uninstsim {

/// The deepest and longest key path below its root that a user's registry file may hold: a hive
/// with a deeper or longer one is refused, a lenient export skips its key line. Real Windows
/// 98/ME registries stay near 12 levels and under 200 bytes; these bounds leave room and keep
/// every output that writes full paths within a small multiple of the input's size.
const size_t MAX_KEY_DEPTH = 64;  // levels below the root key
const size_t MAX_KEY_PATH = 320;  // bytes below the root key, separators included
/// Those bounds, and what a key and a value take in the simulated registry, for the readers.
formats::KeyLimits MachineKeyLimits();

// ---- The whole machine ----------------------------------------------------------------------

/// The drive, then the registry, then the files in use, as the options name them. "" or the
/// error, naming the file (and the line for a malformed image); lines of a customer's export that
/// were skipped are added to pSkipped. A disk is opened into *pDisk. Throws formats::DiskError.
std::string LoadMachine(const Options &options, formats::FatDisk *pDisk, std::vector<SkippedLine> *pSkipped);
/// Whether a Windows directory can be taken: a C:\ path of at most 64 characters without control
/// characters, already in the form Windows resolves it to.
bool IsWindowsDirectory(const std::string &path);

// ---- REGEDIT4 images ------------------------------------------------------------------------

/// Loads a REGEDIT4 image into the registry (merging, as regedit does). Without pSkipped, a
/// malformed image is refused whole: returns false, leaves the registry as it was and sets
/// *pError to "line N: reason". With it, the image is read as Windows' own import reads a
/// customer's export: each line it cannot read is skipped and listed there (a key line it cannot
/// read with the values after it; file left empty), and only a text without the REGEDIT4 header
/// is refused. A key line past MAX_KEY_DEPTH or MAX_KEY_PATH cannot be read, nor a line
/// past what an export of the image's size may make the machine hold and write back. The first
/// thousand skipped lines are listed one by one, and one more entry stands for the rest.
bool ImportRegistry(std::string_view image, std::string *pError, std::vector<SkippedLine> *pSkipped = nullptr);
/// The whole registry as a REGEDIT4 image (CR LF line ends, code page 1252), every root that
/// holds keys, keys in insertion order; ImportRegistry(ExportRegistry()) reproduces it.
std::string ExportRegistry();
/// The same image handed to write in pieces of about a megabyte, for a registry too big to copy.
void ExportRegistry(const std::function<void(const std::string &)> &write);
/// The keys as a REGEDIT4 image, in the order given, written as ExportRegistry writes them.
std::string RegeditImage(const std::vector<sim::RegistryKey> &keys);

// ---- Windows 9x registry files ----------------------------------------------------------------

/// Adds every key and value of the file to HKEY_LOCAL_MACHINE as Windows presents them: names
/// and data as stored (code page 1252 bytes, a text holding its terminating NUL), types as
/// stored, keys and values in the file's order. A file formats::ReadHive refuses, one with a key
/// path past MAX_KEY_DEPTH or MAX_KEY_PATH, or one holding more keys and values than a
/// few times its size takes in the simulation, is refused whole: the registry is left as it was
/// and the result is one line naming the file and what is wrong; "" when loaded.
std::string LoadHive(const std::string &path);
/// The same on the file's bytes (the 64 MiB cap included); name is how the error line calls the file.
std::string LoadHiveBytes(const std::string &bytes, const std::string &name);

// ---- Drives -----------------------------------------------------------------------------------

/// Replaces the drive with a copy of a host folder (a machine image's drive/), as Windows would
/// hold it. Refused whole (false, *pError = one line naming the host path, drive left empty but
/// for the Windows tree) for an entry that is neither a plain file nor a folder (links included:
/// none is followed), a name with no code page 1252 form or that Windows cannot hold, or two
/// names of one folder that differ only in ASCII case. The Windows and system directories are
/// the image's folders of those names in whatever case it spells them; only missing ones are made.
bool LoadFolderImage(const std::string &hostFolder, std::string *pError);
/// formats::OpenFatDisk with each folder's names held to what the simulated drive can hold.
std::string OpenDisk(const std::string &image, formats::FatDisk *pDisk);
/// The drive source that lists and reads the disk's folders and files; it throws formats::DiskError.
sim::DriveSource DiskSource(const formats::FatDisk &disk);

}  // namespace uninstsim

#endif
