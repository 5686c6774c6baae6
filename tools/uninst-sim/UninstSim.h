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
  std::string file;  // as given on the command line
  size_t line;       // from 1
  std::string why;   // code page 1252, as the export's text it may quote
  size_t count = 1;  // lines it stands for: the last entry stands for all those past the listed ones
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
};
/// The report of a run, from what the run changed.
Report BuildReport(const sim::Changes &changes, int iExitCode);
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
