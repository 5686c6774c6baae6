// The record of a run: the output folder and what goes into it.
#ifndef UNINST_TOOLS_UNINST_SIM_SAVE_H
#define UNINST_TOOLS_UNINST_SIM_SAVE_H

#include <string>
#include <vector>

#include "platform/sim/sim.h"
#include "tools/formats/FatDisk.h"
#include "tools/uninst-sim/UninstSim.h"

namespace uninstsim {

/// A new folder under out/ named after the machine and the time.
std::string NewOutputFolder(const Options &options);
/// Whether --out can take folder: a new folder, or an empty one; a folder holding files is refused
/// so that no earlier file stays among the run's. "" or the one-line error.
std::string CheckOutputFolder(const std::string &folder);
/// The folders of a disk the run searched or changed, listed from the disk (throws
/// formats::DiskError), so that writing them cannot fail half-way on the disk.
std::vector<std::string> TouchedFolders(const sim::Changes &changes);
/// Writes the run's record (the drive after the run: the whole drive, or for a disk the
/// diskFolders; the registry, the trace and the reports) into folder, whole or not at all: a
/// failure leaves the output folder as it was, or none when it was new. "" or the one-line error.
std::string SaveRun(const std::string &folder, const formats::FatDisk *pDisk,
                    const std::vector<std::string> &diskFolders, const sim::Changes &changes, const Report &report);

}  // namespace uninstsim

#endif
