// File removal and the WinInit.ini queue, compared byte for byte.
#include "files/BootRename.h"
#include "files/FileRemoval.h"
#include "tests/host/SimFixture.h"

namespace {

const char INI[] = "C:\\WINDOWS\\WININIT.INI";
const char FILE_PATH[] = "C:\\WINDOWS\\SYSTEM\\KXUSBPRT.SYS";
const std::string ENTRY = "NUL=C:\\WINDOWS\\SYSTEM\\KXUSBPRT.SYS\r\n";

class Files : public SimTest {
 protected:
  static std::string Queue(const std::string &before) {
    if (!before.empty())
      sim::WriteFile(INI, before);
    EXPECT_EQ(QueueBootRename(FILE_PATH, nullptr), 1);
    std::string after;
    EXPECT_TRUE(sim::ReadFile(INI, &after));
    return after;
  }
};

TEST_F(Files, TheEntryGoesAfterTheFirstHeaderFormFound) {
  EXPECT_EQ(Queue(""), "[Rename]\r\n" + ENTRY);
  EXPECT_EQ(Queue("[rename]\r\nNUL=C:\\OLD.DLL\r\n"), "[rename]\r\n" + ENTRY + "NUL=C:\\OLD.DLL\r\n");
  EXPECT_EQ(Queue("[RENAME]\r\nA=B\r\n[Rename]\r\nC=D\r\n"), "[RENAME]\r\nA=B\r\n[Rename]\r\n" + ENTRY + "C=D\r\n");
  EXPECT_EQ(Queue("[boot]\r\nshell=x"), "[boot]\r\nshell=x[Rename]\r\n" + ENTRY);
  EXPECT_EQ(Queue("[x]\r\n[rename]"), "[x]\r\n[rename][Rename]\r\n" + ENTRY);
  EXPECT_EQ(Queue("a=1 [Rename]\r\nb=2\r\n"), "a=1 [Rename]\r\n" + ENTRY + "b=2\r\n");
  // The search stops at a NUL: a header behind one is not seen.
  EXPECT_EQ(Queue(std::string("x\0[Rename]\r\n", 13)), std::string("x\0[Rename]\r\n", 13) + "[Rename]\r\n" + ENTRY);
}

TEST_F(Files, ASecondQueuedDeletionStandsAboveTheFirst) {
  EXPECT_EQ(QueueBootRename("C:\\A.DLL", nullptr), 1);
  EXPECT_EQ(QueueBootRename("C:\\B.DLL", "C:\\C.DLL"), 1);
  std::string after;
  ASSERT_TRUE(sim::ReadFile(INI, &after));
  EXPECT_EQ(after, "[Rename]\r\nC:\\C.DLL=C:\\B.DLL\r\nNUL=C:\\A.DLL\r\n");
}

TEST_F(Files, AFailedMappingOrViewLeavesTheFileAsItWas) {
  const std::string before = "[boot]\r\nshell=x\r\n";
  for (sim::Call kind : {sim::Call::CreateFileMapping, sim::Call::MapViewOfFile}) {
    sim::WriteFile(INI, before);
    sim::AddFault({kind, 1, 8, false, ""});
    EXPECT_EQ(QueueBootRename(FILE_PATH, nullptr), 0);
    std::string after;
    ASSERT_TRUE(sim::ReadFile(INI, &after));
    EXPECT_EQ(after, before);
  }
}

TEST_F(Files, AnEntryTooLongForItsLineIsRefusedNotCut) {
  std::string longPath = "C:\\" + std::string(1020, 'p');
  EXPECT_EQ(QueueBootRename(longPath.c_str(), nullptr), 0);
  EXPECT_FALSE(sim::ReadFile(INI, nullptr));
  std::string fits = "C:\\" + std::string(1000, 'p');
  EXPECT_EQ(QueueBootRename(fits.c_str(), nullptr), 1);
  std::string after;
  ASSERT_TRUE(sim::ReadFile(INI, &after));
  EXPECT_EQ(after, "[Rename]\r\nNUL=" + fits + "\r\n");
}

TEST_F(Files, MoveFileExWhereSupportedWritesNothing) {
  sim::SetMoveFileExSupported(true);
  EXPECT_NE(QueueBootRename(FILE_PATH, nullptr), 0);
  EXPECT_FALSE(sim::ReadFile(INI, nullptr));
  EXPECT_EQ(sim::MoveFileExRequests(), std::vector<std::string>{std::string(FILE_PATH) + "=>"});
}

TEST_F(Files, RemovalTracesAndQueuesOnlyAccessDenied) {
  EXPECT_EQ(RemoveFile(FILE_PATH), 0);
  EXPECT_EQ(sim::Trace(), std::vector<std::string>{" Deleting File <C:\\WINDOWS\\SYSTEM\\KXUSBPRT.SYS> result 2\n"});
  sim::ClearTrace();

  sim::WriteFile(FILE_PATH, "driver");
  sim::SetFileInUse(FILE_PATH, true);
  EXPECT_EQ(RemoveFile(FILE_PATH), 1);
  EXPECT_EQ(sim::Trace(), (std::vector<std::string>{
                              " Deleting File <C:\\WINDOWS\\SYSTEM\\KXUSBPRT.SYS> result 5\n",
                              " DeleteFile(<C:\\WINDOWS\\SYSTEM\\KXUSBPRT.SYS>) ACCESS_DENIED, move to RebootBucket\n",
                              " Bucketing File <C:\\WINDOWS\\SYSTEM\\KXUSBPRT.SYS> result 0\n"}));
  std::string ini;
  ASSERT_TRUE(sim::ReadFile(INI, &ini));
  EXPECT_EQ(ini, "[Rename]\r\n" + ENTRY);
  sim::ClearTrace();

  sim::AddFault({sim::Call::DeleteFile, 1, 32, false, ""});
  EXPECT_EQ(RemoveFile(FILE_PATH), 0);
  EXPECT_EQ(sim::Trace(), std::vector<std::string>{" Deleting File <C:\\WINDOWS\\SYSTEM\\KXUSBPRT.SYS> result 32\n"});
  ASSERT_TRUE(sim::ReadFile(INI, &ini));
  EXPECT_EQ(ini, "[Rename]\r\n" + ENTRY);
  sim::ClearTrace();

  // Nothing can be queued: the boot-time request fails and says so.
  sim::AddFault({sim::Call::CreateFile, 1, 5, false, ""});
  EXPECT_EQ(RemoveFile(FILE_PATH), 0);
  EXPECT_EQ(sim::Trace().back(), " Bucketing File <C:\\WINDOWS\\SYSTEM\\KXUSBPRT.SYS> result 5\n");
}

}  // namespace
