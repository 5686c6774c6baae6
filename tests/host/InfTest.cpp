// The INF ownership test on the corpus in tests/data/inf, read from the simulated drive.
#include "inf/InfOwnership.h"
#include "tests/host/SimFixture.h"

#include <fstream>
#include <sstream>

namespace {

std::string Corpus(const std::string &name) {
  std::ifstream in(std::string(UNINST_TEST_DATA) + "/inf/" + name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class Inf : public SimTest {
 protected:
  static int Owned(const std::string &name) {
    sim::WriteFile("C:\\WINDOWS\\INF\\" + name, Corpus(name));
    return IsPackageInf(("C:\\WINDOWS\\INF\\" + name).c_str());
  }
  static int OwnedText(const std::string &text) {
    return IsPackageInfText(text.c_str(), static_cast<unsigned long>(text.size()));
  }
};

TEST_F(Inf, ProvidersGivenLiterallyOrThroughAStringKey) {
  EXPECT_EQ(Owned("literal.inf"), 1);
  EXPECT_EQ(Owned("key.inf"), 1);
  EXPECT_EQ(Owned("blanks.inf"), 0);    // Mfg = "Talvo"
  EXPECT_EQ(Owned("subclass.inf"), 1);  // SubClass=USB counts; "Talvo more text" ends at the blank
  EXPECT_EQ(Owned("talvox.inf"), 0);
  EXPECT_EQ(Owned("lowertalvo.inf"), 0);
  EXPECT_EQ(Owned("percent.inf"), 1);  // %%M% is the key "%M"
}

TEST_F(Inf, OnlyTheUsbClassCounts) {
  EXPECT_EQ(Owned("usbprint.inf"), 0);
  EXPECT_EQ(Owned("lowerusb.inf"), 0);
  EXPECT_EQ(Owned("tab.inf"), 0);     // only a blank, CR or ';' ends the class name
  EXPECT_EQ(Owned("lfonly.inf"), 0);  // USB followed by its LF
  EXPECT_EQ(Owned("comment.inf"), 0);
}

TEST_F(Inf, TheFirstOccurrenceOfTheKeyDecides) {
  EXPECT_EQ(Owned("onechar.inf"), 0);
  EXPECT_EQ(Owned("mfgname.inf"), 0);
  EXPECT_EQ(Owned("midline.inf"), 1);
  EXPECT_EQ(Owned("skipped.inf"), 0);
}

TEST_F(Inf, MalformedFilesAreNotThePackages) {
  EXPECT_EQ(Owned("empty.inf"), 0);
  EXPECT_EQ(Owned("noclose.inf"), 0);
  EXPECT_EQ(Owned("nostrings.inf"), 0);
  EXPECT_EQ(Owned("noversion.inf"), 0);
  EXPECT_EQ(Owned("nul.inf"), 0);  // the text ends at its first NUL, before Provider=
  EXPECT_EQ(Owned("trailingcr.inf"), 0);
  EXPECT_EQ(IsPackageInf("C:\\WINDOWS\\INF\\MISSING.INF"), 0);
}

TEST_F(Inf, KeysUpTo383CharactersFitAndLongerOnesDoNot) {
  const std::string head = "[Version]\r\nClass=USB\r\nProvider=%";
  std::string fits(383, 'k');
  std::string over(384, 'k');
  EXPECT_EQ(OwnedText(head + fits + "%\r\n[Strings]\r\n" + fits + "=\"Talvo\"\r\n"), 1);
  EXPECT_EQ(OwnedText(head + over + "%\r\n[Strings]\r\n" + over + "=\"Talvo\"\r\n"), 0);
}

TEST_F(Inf, AFileThatCannotBeReadWholeIsNotThePackages) {
  sim::WriteFile("C:\\WINDOWS\\INF\\A.INF", Corpus("literal.inf"));
  for (sim::Call kind : {sim::Call::CreateFile, sim::Call::GetFileSize, sim::Call::GlobalAlloc, sim::Call::GlobalLock,
                         sim::Call::ReadFile}) {
    sim::AddFault({kind, 1, 5, false, ""});
    EXPECT_EQ(IsPackageInf("C:\\WINDOWS\\INF\\A.INF"), 0);
  }
  EXPECT_EQ(IsPackageInf("C:\\WINDOWS\\INF\\A.INF"), 1);
}

}  // namespace
