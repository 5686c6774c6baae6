// uninst-sim: the uninstaller run once on a simulated Windows 98/ME machine built from a machine
// image, with everything it does shown and recorded. The pieces are here so that tests can run
// the tool in-process.
#ifndef UNINST_TOOLS_UNINST_SIM_UNINSTSIM_H
#define UNINST_TOOLS_UNINST_SIM_UNINSTSIM_H

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/sim/sim.h"
#include "tools/formats/Printable.h"

namespace uninstsim {

// What reaches the terminal goes through the readers' escaping.
using formats::Printable;
using formats::PrintableCp1252;
using formats::PrintableLines;

const int EXIT_TOOL_ERROR = 2;

struct Options {
  std::string machine;     // machine image folder ("" when only a registry export is given)
  std::string registry;    // a registry export used in place of the machine's registry.reg
  std::string hive;        // a Windows 9x registry file (or its CAB backup) used in its place
  std::string disk;        // a raw disk image whose FAT volume is the drive, its SYSTEM.DAT the registry
  std::string windowsDir;  // the Windows directory ("" : the machine's own, C:\WINDOWS by default)
  unsigned minor = 10;     // dwMinorVersion the machine reports
  bool fAnswersGiven = false;
  std::vector<int> answers;  // IDYES / IDNO, in order
  std::vector<std::string> inUse;
  bool fMoveFileEx = false;
  std::string out;
  bool fQuiet = false;
  bool fStrict = false;  // an unreadable line of the --registry export refuses it
  bool fHelp = false;
  bool fVersion = false;
};

/// Parses the command line (without the program name). A machine's options.txt and answers.txt
/// apply first, then the command line. defaultMachine is asked for the machine folder only when
/// no option names a source. Returns "" or the error to print.
std::string ParseOptions(const std::vector<std::string> &args, const std::function<std::string()> &defaultMachine,
                         Options *pOptions);
/// Parses "yes,no,..." (y/n, oui/non, any case) into IDYES/IDNO; false on a word it does not know.
bool ParseAnswers(const std::string &list, std::vector<int> *pAnswers);
std::string Usage();

/// What one run did, worked out from the machine before and after.
struct RemovedSubtree {
  std::string path;
  int iKeyCount;
  std::string kind;  // what the program removed it as: "driver node", "device", "printer port"...
};
struct ValueRef {
  std::string keyPath;
  std::string name;
};
struct QueuedFile {
  std::string path;
  std::string how;   // "MoveFileEx" or "WinInit.ini"
  std::string line;  // the WinInit.ini line added, or the MoveFileEx request
};
/// A line of a registry export that the import skipped.
struct SkippedLine {
  std::string file;                // as given on the command line
  size_t line;                     // from 1
  std::string why;                 // code page 1252, as the export's text it may quote
  size_t count = 1;                // lines it stands for: the last entry stands for all those past the listed ones
  std::string key{};               // the key line it is or follows, as the export spells it ("" before any)
  bool fMayChangePreview = false;  // in a key the run read or removed, or one past the listed ones
};
/// What the machine was built from: where its registry and its drive came from.
struct MachineInput {
  std::string kind;  // "machine image", "regedit export", "registry file" or "disk": what was named
  std::string path;
  std::string registryFrom;  // "the machine image's registry.reg", "the regedit export"...
  std::string registryPath;
  std::string driveFrom;  // "the machine image's drive/" or "the disk"; "" for an empty Windows tree
  std::string drivePath;
  bool fDefaultSample = false;  // no option named a source: the bundled sample machine was taken
};
/// How the run ended, as its dialogs and trace tell.
enum class Outcome {
  Unknown,
  Completed,
  RefusedConnected,
  CancelledAtConfirmation,
  CancelledAtConfiguredQuestion,
  ClassKeyNotOpened,
};
/// One of the package's printers the survey pass found.
struct PrinterFound {
  std::string model;       // its idPrinterPNP
  std::string device;      // the USB device instance, "USB\<ID>\<instance>"
  std::string printerKey;  // the LPTENUM key looked up for it
  bool fConnected = false;
  bool fConfigured = false;
};
/// Why an INF file removed counts as the package's: the [Version] entries (and the [Strings]
/// entry that names the provider), each "line N: text" as the file had them.
struct InfEvidence {
  std::string file;
  std::vector<std::string> entries;
};
struct Report {
  std::vector<sim::MessageBoxRecord> dialogs;
  std::vector<RemovedSubtree> removedKeys;
  std::vector<ValueRef> removedValues;
  std::vector<ValueRef> valuesLeft;
  std::vector<std::string> filesDeleted;
  std::vector<QueuedFile> filesQueued;
  std::vector<std::string> winInitLinesAdded;
  std::vector<sim::RestartRecord> restarts;
  std::vector<SkippedLine> skippedLines;  // of the registry export, which was read past them
  std::vector<std::string> notes;
  int iExitCode = 0;
  MachineInput input;
  Outcome outcome = Outcome::Unknown;
  std::vector<PrinterFound> printers;
  bool fRebootNeeded = false;  // a file was queued for the next boot, whatever the restart answer
  std::vector<InfEvidence> infEvidence;
  std::vector<int> unusedAnswers;  // answers given that no box took
};
/// The report of a run, from what the run changed.
Report BuildReport(const sim::Changes &changes, int iExitCode);
// What the run's record tells, read as the program writes its trace (ReportFacts.cpp).
Outcome RunOutcome(const std::vector<sim::MessageBoxRecord> &dialogs, const std::vector<std::string> &trace);
std::vector<PrinterFound> PrintersFound(const std::vector<std::string> &trace);
/// What a key the program removes is, in words, from its path ("" for none it knows).
std::string KeyKind(const std::string &keyPath);
/// The entries that make an INF text the package's, read as the program reads it; none when it is not.
std::vector<std::string> InfEvidenceOf(const std::string &bytes);
/// The keys, with the root's name, whose contents the run read or removed.
std::vector<std::string> KeysTouched(const std::vector<std::string> &trace, const sim::Changes &changes);
/// Whether a key path is one of the keys or lies under one (case-insensitive).
bool InOrUnderAny(const std::string &keyPath, const std::vector<std::string> &keys);
/// What the answer to a box did, in a few English words ("No: go on with the removal").
std::string AnswerGloss(const sim::MessageBoxRecord &box);
/// "yes,no,ok": answers as the report names them.
std::string AnswerList(const std::vector<int> &answers);
std::string OutcomeName(Outcome outcome);  // "completed", "refused-connected"...
std::string OutcomeText(Outcome outcome);  // "removal completed"...

/// "FILE: line N: why", in UTF-8.
std::string SkippedLineText(const SkippedLine &line);
std::string ReportText(const Report &report);
std::string ReportJson(const Report &report);
/// A REGEDIT4 image that re-creates every key and value the run removed.
std::string UndoImage(const sim::Changes &changes);

/// The whole tool. pTerminal is where to ask for missing answers, or null when not interactive.
int RunTool(const std::vector<std::string> &args, std::ostream &out, std::ostream &err, std::istream *pTerminal);

}  // namespace uninstsim

#endif
