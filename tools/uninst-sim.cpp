// Runs the uninstaller once on a simulated Windows 98/ME machine read from a folder:
//   <machine>/registry.reg  the registry, as a REGEDIT4 image
//   <machine>/drive/        the content of C:\ (WINDOWS\SYSTEM, WINDOWS\INF, ...)
// and prints what happened: the message boxes with the answers given, the trace, the exit code,
// the registry keys and files that went, and the boot-time requests queued.
//
//   uninst-sim [--answers yes,no,no] [--minor 10|90] [--movefileex] [--out DIR] MACHINE
//
// With --out, DIR receives registry-after.reg and the drive as the run left it.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sim/sim.h"
#include "uninstall/Uninst.h"
#include "uninstall/UninstallState.h"

namespace fs = std::filesystem;

namespace {

struct Options {
  std::vector<int> answers;
  unsigned minor = 10;
  bool moveFileEx = false;
  std::string out;
  std::string machine;
};

int Usage() {
  std::cerr << "usage: uninst-sim [--answers yes,no,...] [--minor N] [--movefileex] [--out DIR] MACHINE\n";
  return 2;
}

bool ParseAnswers(const std::string &list, std::vector<int> *pAnswers) {
  std::stringstream stream(list);
  std::string word;
  while (std::getline(stream, word, ',')) {
    if (word == "yes") {
      pAnswers->push_back(os::IDYES);
    } else if (word == "no") {
      pAnswers->push_back(os::IDNO);
    } else if (word == "ok") {
      pAnswers->push_back(os::IDOK);
    } else {
      return false;
    }
  }
  return true;
}

bool ParseOptions(int argc, char **argv, Options *pOptions) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "--answers" && hasValue) {
      if (!ParseAnswers(argv[++i], &pOptions->answers))
        return false;
    } else if (arg == "--minor" && hasValue) {
      pOptions->minor = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
    } else if (arg == "--movefileex") {
      pOptions->moveFileEx = true;
    } else if (arg == "--out" && hasValue) {
      pOptions->out = argv[++i];
    } else if (!arg.empty() && arg[0] != '-' && pOptions->machine.empty()) {
      pOptions->machine = arg;
    } else {
      return false;
    }
  }
  return !pOptions->machine.empty();
}

bool ReadHostFile(const fs::path &path, std::string *pText) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  std::ostringstream text;
  text << in.rdbuf();
  *pText = text.str();
  return true;
}

bool LoadMachine(const Options &options) {
  std::string image;
  fs::path machine(options.machine);
  if (!ReadHostFile(machine / "registry.reg", &image)) {
    std::cerr << "uninst-sim: cannot read " << (machine / "registry.reg").string() << "\n";
    return false;
  }
  std::string error;
  if (!sim::ImportRegistry(image, &error)) {
    std::cerr << "uninst-sim: registry.reg: " << error << "\n";
    return false;
  }
  if (fs::exists(machine / "drive")) {
    fs::copy(machine / "drive", sim::DriveRoot(), fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  }
  return true;
}

// Key section names of a REGEDIT4 image.
std::set<std::string> KeysOf(const std::string &image) {
  std::set<std::string> keys;
  std::stringstream stream(image);
  std::string line;
  while (std::getline(stream, line)) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (line.size() > 2 && line.front() == '[' && line.back() == ']')
      keys.insert(line.substr(1, line.size() - 2));
  }
  return keys;
}

// The texts are code page 1252; the terminal is UTF-8. 0xA0-0xFF are Latin-1 in both.
std::string Utf8FromCp1252(const std::string &text) {
  std::string utf8;
  for (unsigned char c : text) {
    if (c < 0x80) {
      utf8 += static_cast<char>(c);
    } else if (c >= 0xA0) {
      utf8 += static_cast<char>(0xC0 | (c >> 6));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      utf8 += '?';
    }
  }
  return utf8;
}

void PrintGone(const char *title, const std::set<std::string> &before, const std::set<std::string> &after) {
  std::printf("%s\n", title);
  for (const std::string &item : before) {
    if (after.count(item) == 0)
      std::printf("  %s\n", item.c_str());
  }
}

void PrintRun(int iExitCode, const std::string &registryBefore, const std::vector<std::string> &filesBefore) {
  std::printf("== message boxes\n");
  for (const sim::MessageBoxRecord &box : sim::MessageBoxes()) {
    std::printf("  [%s] %s (style %u)\n", Utf8FromCp1252(box.caption).c_str(), Utf8FromCp1252(box.text).c_str(),
                box.uStyle);
  }
  std::printf("== trace\n");
  for (const std::string &line : sim::Trace())
    std::fputs(line.c_str(), stdout);
  std::printf("== exit code %d\n", iExitCode);
  PrintGone("== registry keys removed", KeysOf(registryBefore), KeysOf(sim::ExportRegistry()));
  std::vector<std::string> filesAfter = sim::ListFiles();
  PrintGone("== files removed", std::set<std::string>(filesBefore.begin(), filesBefore.end()),
            std::set<std::string>(filesAfter.begin(), filesAfter.end()));
  std::printf("== restart requests: %zu\n", sim::Restarts().size());
  for (const std::string &request : sim::MoveFileExRequests())
    std::printf("== MoveFileEx %s\n", request.c_str());
  std::string winInit;
  if (sim::ReadFile("C:\\WINDOWS\\WININIT.INI", &winInit))
    std::printf("== WinInit.ini\n%s", winInit.c_str());
  for (const std::string &problem : sim::Problems())
    std::printf("!! %s\n", problem.c_str());
}

void SaveRun(const std::string &out) {
  fs::create_directories(out);
  std::ofstream(fs::path(out) / "registry-after.reg", std::ios::binary) << sim::ExportRegistry();
  fs::remove_all(fs::path(out) / "drive");
  fs::copy(sim::DriveRoot(), fs::path(out) / "drive", fs::copy_options::recursive);
}

}  // namespace

int main(int argc, char **argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options))
    return Usage();
  sim::Reset();
  InitUninstallState();
  if (!LoadMachine(options))
    return 2;
  sim::SetMinorVersion(options.minor);
  sim::SetMoveFileExSupported(options.moveFileEx);
  for (int iAnswer : options.answers)
    sim::QueueAnswer(iAnswer);

  std::string registryBefore = sim::ExportRegistry();
  std::vector<std::string> filesBefore = sim::ListFiles();
  int iExitCode = WinMain(nullptr, nullptr, nullptr, 0);
  PrintRun(iExitCode, registryBefore, filesBefore);
  if (!options.out.empty())
    SaveRun(options.out);
  sim::Reset();
  return iExitCode;
}
