// Command line, and the options and answers a machine image carries with it.
#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

#include <CLI/CLI.hpp>

#include "tools/uninst-sim/UninstSim.h"

namespace uninstsim {

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

// A word of the user's as a message quotes it: at most a few dozen bytes, cut between characters.
std::string Quoted(const std::string &word) {
  const size_t MAX_QUOTED = 40;
  if (word.size() <= MAX_QUOTED)
    return "\"" + word + "\"";
  size_t cut = MAX_QUOTED;
  while (cut > 0 && (static_cast<unsigned char>(word[cut]) & 0xC0) == 0x80)
    --cut;
  return "\"" + word.substr(0, cut) + "...\"";
}

// Adds the answers of a "yes,no,..." list to *pAnswers; "" or which word is none, by its position.
std::string BadAnswer(const std::string &list, std::vector<int> *pAnswers) {
  std::stringstream stream(list);
  std::string given;
  for (size_t position = 1; std::getline(stream, given, ','); ++position) {
    std::string word = Lower(Trim(given));
    if (word == "yes" || word == "y" || word == "oui" || word == "o") {
      pAnswers->push_back(os::IDYES);
    } else if (word == "no" || word == "n" || word == "non") {
      pAnswers->push_back(os::IDNO);
    } else if (!word.empty() || !stream.eof()) {
      std::string which = "word " + std::to_string(position);
      return (word.empty() ? which + " is empty" : which + ", " + Quoted(Trim(given)) + ", is neither yes nor no") +
             ": give yes/no, y/n or oui/non";
    }
  }
  return "";
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

// An option taking one text, named in --help by what it is (DIR, FILE...).
void AddText(CLI::App &app, const char *pucName, const char *pucValueName, std::string *pValue, const char *pucHelp) {
  app.add_option_function<std::string>(
         pucName, [pValue](const std::string &value) { *pValue = value; }, pucHelp)
      ->type_name(pucValueName);
}

// The options naming what the machine is built from.
void DescribeSources(CLI::App &app, Options *pOptions) {
  AddText(app, "--machine", "DIR", &pOptions->machine,
          "machine image DIR: registry.reg (REGEDIT4) and drive/ (C:\\); its options.txt and answers.txt give "
          "its default options and answers (default: the bundled sample win98)");
  AddText(app, "--registry", "FILE", &pOptions->registry,
          "a regedit /e export to use as the registry; unreadable lines are skipped and listed (without "
          "--machine the drive is an empty Windows tree)");
  AddText(app, "--hive", "FILE", &pOptions->hive,
          "a Windows 9x/ME registry file (SYSTEM.DAT, or a backup RB00n.CAB holding one) to use as the registry");
  AddText(app, "--disk", "IMAGE", &pOptions->disk,
          "a disk IMAGE (MBR with a FAT16/FAT32 partition, or a bare FAT volume), raw or as a virtual machine "
          "keeps it (qcow2, VDI, VMDK, VHD, VHDX): its drive, read as the run goes and never written, and its "
          "SYSTEM.DAT as registry");
  AddText(app, "--windows-dir", "C:\\PATH", &pOptions->windowsDir,
          "the Windows directory, a C:\\ path (default C:\\WINDOWS, or what a disk's MSDOS.SYS names)");
}

// The options of the run on the machine and of its record.
void DescribeRun(CLI::App &app, Options *pOptions) {
  app.add_option_function<std::string>(
         "--os",
         [pOptions](const std::string &value) {
           if (!ParseMinor(value, &pOptions->minor))
             throw CLI::ValidationError("--os", "takes 98, me or a minor version number, not " + value);
         },
         "the Windows form the machine reports: 98 (minor 10), me (90) or a number")
      ->type_name("VERSION");
  app.add_option_function<std::string>(
         "--answers",
         [pOptions](const std::string &value) {
           pOptions->answers.clear();
           pOptions->fAnswersGiven = true;
           std::string bad = BadAnswer(value, &pOptions->answers);
           if (!bad.empty())
             throw CLI::ValidationError("--answers", bad);
         },
         "answers to the Yes/No boxes in order (yes/no, y/n, oui/non); OK boxes take none")
      ->type_name("LIST");
  app.add_option_function<std::vector<std::string>>(
         "--in-use",
         [pOptions](const std::vector<std::string> &paths) {
           pOptions->inUse.insert(pOptions->inUse.end(), paths.begin(), paths.end());
         },
         "a file in use, C:\\PATH: deleting it fails with 5 (one path each time; repeatable)")
      ->allow_extra_args(false)
      ->type_name("C:\\PATH");
  AddText(app, "--out", "DIR", &pOptions->out,
          "where to write registry.reg, drive/, trace.txt, report.txt, report.json and undo.reg (default: a new "
          "folder under out/)");
  app.add_flag("--movefileex", pOptions->fMoveFileEx,
               "MoveFileExA can delay a deletion until the next boot (not on Windows 98/ME)");
  app.add_flag("--quiet", pOptions->fQuiet, "no trace on standard output");
  app.add_flag("--strict", pOptions->fStrict,
               "refuse the --registry export at its first unreadable line, where by default such lines are "
               "skipped as Windows' import skips them, and listed");
}

// The options, bound to *pOptions, on a parser whose --help is generated from them.
void DescribeOptions(CLI::App *pApp, Options *pOptions) {
  pApp->description(
      "Runs the uninstaller once on a simulated Windows 98/ME machine and records what it did.\n"
      "Exit code: the uninstaller's own (0 or 5), or 2 for an error of the tool.");
  pApp->set_help_flag("-h,--help", "this text");
  pApp->add_flag("--version", pOptions->fVersion, "the version (Uninst.exe's own) and nothing else");
  DescribeSources(*pApp, pOptions);
  DescribeRun(*pApp, pOptions);
}

// The edits (a byte added, removed, changed, or two swapped) that make one word the other.
size_t EditDistance(const std::string &a, const std::string &b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) {
    for (size_t j = 0; j <= b.size(); ++j) {
      if (i == 0 || j == 0) {
        d[i][j] = i + j;
        continue;
      }
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

// An option the tool does not know, with the known one nearest to it when one is near: within a
// third of its length.
std::string UnknownOption(const CLI::App &app, const std::string &name) {
  const size_t MAX_COMPARED = 32;  // longer is no slip of the fingers
  size_t dashes = std::min(name.find_first_not_of('-'), name.size());
  std::string typed = Lower(name.substr(dashes));
  std::string nearest;
  size_t best = MAX_COMPARED;
  for (const CLI::Option *pOption : app.get_options()) {
    for (const std::string &known : pOption->get_lnames()) {
      size_t distance = typed.size() > MAX_COMPARED ? MAX_COMPARED : EditDistance(typed, known);
      if (distance < best && distance <= std::max<size_t>(1, known.size() / 3)) {
        best = distance;
        nearest = "--" + known;
      }
    }
  }
  std::string shown = name.size() > MAX_COMPARED ? name.substr(0, MAX_COMPARED) + "..." : name;
  return "unknown option " + shown + (nearest.empty() ? "" : ": did you mean " + nearest + "?");
}

// What CLI11 would say less plainly, or "": an unknown option, or one lacking its value (an option
// right after another is not its value: "--machine --out x" lacks the machine).
std::string ArgumentsProblem(const CLI::App &app, const std::vector<std::string> &args) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &arg = args[i];
    if (arg.size() < 2 || arg[0] != '-' || arg == "--")
      continue;
    std::string name = arg.substr(0, arg.find('='));
    const CLI::Option *pOption = app.get_option_no_throw(name);
    if (pOption == nullptr)
      return UnknownOption(app, name);
    if (pOption->get_expected_min() == 0 || name.size() < arg.size())
      continue;
    if (i + 1 == args.size() || args[i + 1].compare(0, 2, "--") == 0)
      return arg + " needs a value";
    ++i;  // its value, whatever it starts with
  }
  return "";
}

// Arguments applied over *pOptions; "" or the error, one line.
std::string ApplyArguments(const std::vector<std::string> &args, Options *pOptions) {
  CLI::App app("uninst-sim", "uninst-sim");
  DescribeOptions(&app, pOptions);
  std::string problem = ArgumentsProblem(app, args);
  if (!problem.empty())
    return problem;
  std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them last first
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp &) {
    pOptions->fHelp = true;
  } catch (const CLI::ParseError &error) {
    std::string message = error.what();
    return message.substr(0, message.find('\n'));
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
    std::vector<std::string> args{line.substr(0, blank)};
    if (blank != std::string::npos)
      args.push_back(Trim(line.substr(blank)));
    std::string error = ApplyArguments(args, pOptions);
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
  std::string bad = BadAnswer(list, &pOptions->answers);
  return bad.empty() ? "" : path + ": " + bad;
}

}  // namespace

bool ParseAnswers(const std::string &list, std::vector<int> *pAnswers) {
  return BadAnswer(list, pAnswers).empty();
}

std::string ParseOptions(const std::vector<std::string> &args, const std::function<std::string()> &defaultMachine,
                         Options *pOptions) {
  Options fromCommandLine;
  std::string error = ApplyArguments(args, &fromCommandLine);
  if (!error.empty() || fromCommandLine.fHelp || fromCommandLine.fVersion) {
    *pOptions = fromCommandLine;
    return error;
  }
  if (!fromCommandLine.registry.empty() && !fromCommandLine.hive.empty())
    return "--registry and --hive both give the registry: give one";
  if (!fromCommandLine.machine.empty() && !fromCommandLine.disk.empty())
    return "--machine and --disk both give the drive: give one";
  if (fromCommandLine.machine.empty() && fromCommandLine.registry.empty() && fromCommandLine.hive.empty() &&
      fromCommandLine.disk.empty()) {
    fromCommandLine.machine = defaultMachine();
    if (fromCommandLine.machine.empty())
      return "no machine given, and no sample machine beside the tool: name one with --machine DIR, "
             "--registry FILE, --hive FILE or --disk IMAGE";
  }
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
  Options options;
  CLI::App app("uninst-sim", "uninst-sim");
  DescribeOptions(&app, &options);
  return app.help();
}

}  // namespace uninstsim
