// Command line, and the options and answers a machine image carries with it.
#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

#include "tools/SimTool.h"

namespace simtool {

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string Trim(const std::string &text) {
  size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos)
    return "";
  size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

bool ParseMinor(const std::string &text, unsigned *pMinor) {
  std::string form = Lower(text);
  if (form == "98") {
    *pMinor = 10;
  } else if (form == "me") {
    *pMinor = 90;
  } else if (!form.empty() && form.size() <= 9 && std::all_of(form.begin(), form.end(), ::isdigit)) {
    *pMinor = static_cast<unsigned>(std::stoul(form));
  } else {
    return false;
  }
  return true;
}

// One option with its value (when it takes one); "" or the error.
std::string ApplyOption(const std::string &name, const std::string *pValue, Options *pOptions, bool *pfUsedValue) {
  *pfUsedValue = false;
  if (name == "--movefileex") {
    pOptions->fMoveFileEx = true;
    return "";
  }
  if (name == "--quiet") {
    pOptions->fQuiet = true;
    return "";
  }
  if (name == "--strict") {
    pOptions->fStrict = true;
    return "";
  }
  if (name == "--help" || name == "-h") {
    pOptions->fHelp = true;
    return "";
  }
  const char *const withValue[] = {"--machine", "--registry", "--hive",   "--disk", "--windows-dir",
                                   "--os",      "--answers",  "--in-use", "--out"};
  if (std::find(std::begin(withValue), std::end(withValue), name) == std::end(withValue))
    return "unknown option " + name;
  if (pValue == nullptr)
    return name + " needs a value";
  *pfUsedValue = true;
  const std::string &value = *pValue;
  if (name == "--machine") {
    pOptions->machine = value;
  } else if (name == "--registry") {
    pOptions->registry = value;
  } else if (name == "--hive") {
    pOptions->hive = value;
  } else if (name == "--disk") {
    pOptions->disk = value;
  } else if (name == "--windows-dir") {
    pOptions->windowsDir = value;
  } else if (name == "--os") {
    if (!ParseMinor(value, &pOptions->minor))
      return "--os takes 98, me or a minor version number, not " + value;
  } else if (name == "--answers") {
    pOptions->answers.clear();
    pOptions->fAnswersGiven = true;
    if (!ParseAnswers(value, &pOptions->answers))
      return "--answers takes yes/no words separated by commas, not " + value;
  } else if (name == "--in-use") {
    pOptions->inUse.push_back(value);
  } else {
    pOptions->out = value;
  }
  return "";
}

std::string ApplyArguments(const std::vector<std::string> &args, Options *pOptions) {
  for (size_t i = 0; i < args.size(); ++i) {
    // An option right after another is not its value: "--machine --out x" lacks the machine.
    bool fHasValue = i + 1 < args.size() && args[i + 1].compare(0, 2, "--") != 0;
    const std::string *pValue = fHasValue ? &args[i + 1] : nullptr;
    bool fUsedValue = false;
    std::string error = ApplyOption(args[i], pValue, pOptions, &fUsedValue);
    if (!error.empty())
      return error;
    if (fUsedValue)
      ++i;
  }
  return "";
}

// options.txt: one option per line, its value after the first blank; '#' starts a comment line.
std::string ApplyOptionsFile(const std::string &path, Options *pOptions) {
  std::ifstream in(path);
  if (!in)
    return "";
  std::string line;
  int iLine = 0;
  while (std::getline(in, line)) {
    ++iLine;
    line = Trim(line);
    if (line.empty() || line[0] == '#')
      continue;
    size_t blank = line.find_first_of(" \t");
    std::string name = line.substr(0, blank);
    std::string value = blank == std::string::npos ? "" : Trim(line.substr(blank));
    bool fUsedValue = false;
    std::string error = ApplyOption(name, blank == std::string::npos ? nullptr : &value, pOptions, &fUsedValue);
    if (error.empty() && !fUsedValue && blank != std::string::npos)
      error = name + " takes no value";
    if (!error.empty())
      return path + ":" + std::to_string(iLine) + ": " + error;
  }
  return "";
}

std::string ApplyAnswersFile(const std::string &path, Options *pOptions) {
  std::ifstream in(path);
  if (!in)
    return "";
  std::stringstream text;
  text << in.rdbuf();
  std::string list = Trim(text.str());
  std::replace(list.begin(), list.end(), '\n', ',');
  list.erase(std::remove_if(list.begin(), list.end(), [](char c) { return c == ' ' || c == '\r'; }), list.end());
  pOptions->fAnswersGiven = true;
  if (!ParseAnswers(list, &pOptions->answers))
    return path + ": yes/no words separated by commas expected";
  return "";
}

}  // namespace

bool ParseAnswers(const std::string &list, std::vector<int> *pAnswers) {
  std::stringstream stream(list);
  std::string word;
  while (std::getline(stream, word, ',')) {
    word = Lower(Trim(word));
    if (word == "yes" || word == "y" || word == "oui" || word == "o") {
      pAnswers->push_back(os::IDYES);
    } else if (word == "no" || word == "n" || word == "non") {
      pAnswers->push_back(os::IDNO);
    } else if (!word.empty() || !stream.eof()) {
      return false;
    }
  }
  return true;
}

std::string ParseOptions(const std::vector<std::string> &args, const std::string &defaultMachine, Options *pOptions) {
  Options fromCommandLine;
  std::string error = ApplyArguments(args, &fromCommandLine);
  if (!error.empty() || fromCommandLine.fHelp) {
    *pOptions = fromCommandLine;
    return error;
  }
  if (!fromCommandLine.registry.empty() && !fromCommandLine.hive.empty())
    return "--registry and --hive both give the registry: give one";
  if (!fromCommandLine.machine.empty() && !fromCommandLine.disk.empty())
    return "--machine and --disk both give the drive: give one";
  if (fromCommandLine.machine.empty() && fromCommandLine.registry.empty() && fromCommandLine.hive.empty() &&
      fromCommandLine.disk.empty())
    fromCommandLine.machine = defaultMachine;
  if (fromCommandLine.machine.empty()) {
    *pOptions = fromCommandLine;
    return "";
  }
  // The image's own options first, so that the command line can override them.
  Options options;
  options.machine = fromCommandLine.machine;
  error = ApplyOptionsFile(fromCommandLine.machine + "/options.txt", &options);
  if (error.empty() && !fromCommandLine.fAnswersGiven)
    error = ApplyAnswersFile(fromCommandLine.machine + "/answers.txt", &options);
  if (error.empty())
    error = ApplyArguments(args, &options);
  options.machine = fromCommandLine.machine;
  *pOptions = options;
  return error;
}

std::string Usage() {
  return "usage: uninst-sim [--machine DIR | --disk IMAGE] [--registry FILE | --hive FILE] [--windows-dir C:\\DIR]\n"
         "                  [--os 98|me|MINOR]\n"
         "                  [--answers yes,no,...] [--in-use C:\\PATH]... [--movefileex] [--out DIR] [--quiet]\n"
         "                  [--strict]\n"
         "Runs the uninstaller once on a simulated Windows 98/ME machine and records what it did.\n"
         "  --machine DIR    machine image: DIR/registry.reg (REGEDIT4) and DIR/drive/ (C:\\);\n"
         "                   DIR/options.txt and DIR/answers.txt give its default options and answers\n"
         "                   (default: samples/win98)\n"
         "  --registry FILE  a regedit /e export to use as the registry (without --machine the drive is\n"
         "                   an empty Windows tree)\n"
         "  --hive FILE      a Windows 9x/ME registry file (SYSTEM.DAT, or a registry backup RB00n.CAB\n"
         "                   holding one) to use as HKEY_LOCAL_MACHINE, as --registry\n"
         "  --disk IMAGE     a raw disk image (MBR with a FAT16/FAT32 partition, or a bare FAT volume): its\n"
         "                   drive, read as the run goes and never written, and its SYSTEM.DAT as registry\n"
         "  --windows-dir D  the Windows directory (default C:\\WINDOWS, or what a disk's MSDOS.SYS names)\n"
         "  --os             the Windows form the machine reports: 98 (minor 10), me (90) or a number\n"
         "  --answers        answers to the Yes/No boxes in order (yes/no, y/n, oui/non); OK boxes take none\n"
         "  --in-use PATH    a file in use: deleting it fails with 5 (repeatable)\n"
         "  --movefileex     MoveFileExA can delay a deletion until the next boot (not on Windows 98/ME)\n"
         "  --out DIR        where to write registry.reg, drive/, trace.txt, report.txt, report.json and\n"
         "                   undo.reg (default: a new folder under out/)\n"
         "  --quiet          no trace on standard output\n"
         "  --strict         refuse the --registry export at its first unreadable line, where by default\n"
         "                   such lines are skipped as Windows' import skips them, and listed\n"
         "Exit code: the uninstaller's own (0 or 5), or 2 for an error of the tool.\n";
}

}  // namespace simtool
