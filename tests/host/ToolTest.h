// What the tests of uninst-sim share: the sample machines, files read and written whole, and a
// fixture with a scratch folder of its own that runs the tool in-process.
#ifndef UNINST_TESTS_HOST_TOOLTEST_H
#define UNINST_TESTS_HOST_TOOLTEST_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <regex>

#include "platform/sim/sim.h"
#include "tools/uninst-sim/Load.h"
#include "tools/uninst-sim/UninstSim.h"

namespace tooltest {

namespace fs = std::filesystem;

inline const std::string SAMPLES = std::string(UNINST_SOURCE_DIR) + "/samples/";

inline std::string ReadAll(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteAll(const fs::path &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

/// A file of a run's output folder, the reports without what names the input (their Input block,
/// the source a note names): what two runs of one machine given in different forms share.
inline std::string RunFile(const fs::path &folder, const std::string &name) {
  std::string text = ReadAll(folder / name);
  const std::regex source("\\(the [^()]* has none\\)");
  if (name == "report.txt")
    return std::regex_replace(text.substr(text.find("Outcome: ")), source, "(has none)");
  if (name != "report.json")
    return text;
  nlohmann::json json = nlohmann::json::parse(text);
  json.erase("input");
  for (auto &note : json["notes"])
    note = std::regex_replace(note.get<std::string>(), source, "(has none)");
  return json.dump(2);
}

/// The HKEY_LOCAL_MACHINE keys of a REGEDIT4 file (a registry file holds no other root).
inline std::vector<sim::RegistryKey> MachineKeys(const fs::path &regFile) {
  sim::Reset();
  std::string error;
  EXPECT_TRUE(uninstsim::ImportRegistry(ReadAll(regFile), &error)) << error;
  std::vector<sim::RegistryKey> keys = sim::RegistryKeys();
  const std::string root = "HKEY_LOCAL_MACHINE";
  keys.erase(std::remove_if(keys.begin(), keys.end(),
                            [&](const sim::RegistryKey &key) { return key.path.compare(0, root.size(), root) != 0; }),
             keys.end());
  sim::Reset();
  return keys;
}

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch = fs::temp_directory_path() / ("uninst-tool-test-" + std::to_string(::getpid()));
    fs::remove_all(scratch);
    fs::create_directories(scratch);
  }
  void TearDown() override {
    fs::remove_all(scratch);
    sim::Reset();
  }
  // The tool's exit code for a quiet run recording into scratch/out; *pErr gets its standard error.
  int Run(std::vector<std::string> args, const std::string &out, std::string *pErr = nullptr) {
    args.insert(args.end(), {"--quiet", "--out", (scratch / out).string()});
    std::ostringstream stdOut;
    std::ostringstream stdErr;
    int iExitCode = uninstsim::RunTool(args, stdOut, stdErr, nullptr);
    if (pErr)
      *pErr = stdErr.str();
    return iExitCode;
  }

  fs::path scratch;
};

}  // namespace tooltest

#endif
