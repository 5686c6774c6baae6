// A fresh simulated machine per test; after it, no handle may be left open and the simulation
// must have seen no misuse.
#ifndef UNINST_TESTS_HOST_SIMFIXTURE_H
#define UNINST_TESTS_HOST_SIMFIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/sim.h"
#include "tools/uninst-sim/Load.h"
#include "uninstall/UninstallState.h"

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    InitUninstallState();
  }
  void TearDown() override {
    EXPECT_EQ(sim::OpenHandles(), std::vector<std::string>());
    EXPECT_EQ(sim::Problems(), std::vector<std::string>());
  }
  static void Load(const std::string &image) {
    std::string error;
    ASSERT_TRUE(uninstsim::ImportRegistry(image, &error)) << error;
  }
  // A REGEDIT4 image written with LF line ends, as CR LF.
  static std::string Crlf(const std::string &text) {
    std::string out;
    for (char c : text) {
      if (c == '\n')
        out += '\r';
      out += c;
    }
    return out;
  }
  static std::vector<std::string> TraceLines() {
    return sim::Trace();
  }
};

#endif
