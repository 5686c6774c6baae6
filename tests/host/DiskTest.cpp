// uninst-sim --disk: FAT16 and FAT32 images built here with mtools from the sample machines'
// drives and their registries as SYSTEM.DAT; each preview equals the preview of the same machine
// given as a folder and a hive, and the image is left byte for byte as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/host/ToolTest.h"
#include "tests/support/HiveWriter.h"
#include "tools/SimTool.h"

namespace fs = std::filesystem;

namespace {

using tooltest::MachineKeys;
using tooltest::ReadAll;
using tooltest::SAMPLES;

void Mtools(const std::string &command) {
  ASSERT_EQ(std::system(("MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8 " + command + " >/dev/null").c_str()), 0) << command;
}

struct Image {
  bool fFat32;
  unsigned ulStartSector;  // of the partition; 0: a bare FAT volume
  std::string windowsDir;  // the Windows folder's name
};

class DiskTest : public tooltest::ToolTest {
 protected:
  // The sample as a machine folder whose drive holds SYSTEM.DAT (and MSDOS.SYS when the Windows
  // folder is not WINDOWS), and a disk image of that drive.
  fs::path Build(const std::string &sample, const Image &image) {
    fs::path machine = scratch / ("machine-" + sample + image.windowsDir);
    fs::create_directories(machine / "drive");
    fs::copy(SAMPLES + sample + "/drive/WINDOWS", machine / "drive" / image.windowsDir, fs::copy_options::recursive);
    std::vector<sim::RegistryKey> keys = MachineKeys(SAMPLES + sample + "/registry.reg");
    std::ofstream(machine / "drive" / image.windowsDir / "SYSTEM.DAT", std::ios::binary) << hive::HiveImage(keys);
    if (image.windowsDir != "WINDOWS")
      std::ofstream(machine / "drive" / "MSDOS.SYS", std::ios::binary)
          << "[Paths]\r\nWinDir=C:\\" << image.windowsDir << "\r\nWinBootDir=C:\\" << image.windowsDir << "\r\n";

    fs::path disk = machine.string() + ".img";
    const unsigned ulSectors = image.fFat32 ? 140000 : 65536;
    std::ofstream(disk, std::ios::binary).close();
    fs::resize_file(disk, (static_cast<std::uintmax_t>(image.ulStartSector) + ulSectors) * 512);
    if (image.ulStartSector != 0)
      WritePartitionTable(disk, image.fFat32 ? 0x0C : 0x06, image.ulStartSector, ulSectors);
    std::string volume = disk.string() + "@@" + std::to_string(image.ulStartSector * 512ull);
    Mtools("mformat -i " + volume + (image.fFat32 ? " -F" : " -c 4") + " -T " + std::to_string(ulSectors) + " ::");
    for (const auto &entry : fs::directory_iterator(machine / "drive"))
      Mtools("mcopy -s -i " + volume + " '" + entry.path().string() + "' ::/");
    return disk;
  }

  static void WritePartitionTable(const fs::path &disk, unsigned char type, unsigned ulStart, unsigned ulCount) {
    unsigned char ucEntry[16] = {0x80, 0, 0, 0, type};
    for (int i = 0; i < 4; ++i) {
      ucEntry[8 + i] = static_cast<unsigned char>(ulStart >> (8 * i));
      ucEntry[12 + i] = static_cast<unsigned char>(ulCount >> (8 * i));
    }
    std::fstream file(disk, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(446);
    file.write(reinterpret_cast<const char *>(ucEntry), sizeof ucEntry);
    file.seekp(510);
    file.write("\x55\xAA", 2);
  }
};

TEST_F(DiskTest, APreviewOfTheDiskIsThePreviewOfTheSameMachineAsFolderAndHive) {
  struct Case {
    std::string sample;
    Image image;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {"win98", {true, 2048, "WINDOWS"}, {"--answers", "yes,no,no"}},
      {"winme",
       {false, 0, "WINDOWS"},
       {"--answers", "yes,no,no", "--os", "me", "--in-use", "C:\\WINDOWS\\SYSTEM\\KXUSBPRT.SYS"}},
      {"win98", {false, 63, "WIN98"}, {"--answers", "yes,no,no", "--in-use", "C:\\WIN98\\SYSTEM\\KXUSBADD.DLL"}},
  };
  for (const Case &c : cases) {
    fs::path disk = Build(c.sample, c.image);
    fs::path machine = disk.parent_path() / disk.stem();
    std::string before = ReadAll(disk);
    std::vector<std::string> diskArgs = c.args;
    diskArgs.insert(diskArgs.end(), {"--disk", disk.string()});
    std::vector<std::string> folderArgs = c.args;
    folderArgs.insert(folderArgs.end(), {"--machine", machine.string(), "--hive",
                                         (machine / "drive" / c.image.windowsDir / "SYSTEM.DAT").string(),
                                         "--windows-dir", "C:\\" + c.image.windowsDir});
    std::string err;
    ASSERT_EQ(Run(diskArgs, "disk-" + disk.stem().string(), &err), 0) << err;
    ASSERT_EQ(Run(folderArgs, "folder-" + disk.stem().string(), &err), 0) << err;
    fs::path diskOut = scratch / ("disk-" + disk.stem().string());
    fs::path folderOut = scratch / ("folder-" + disk.stem().string());
    for (const char *pucFile : {"trace.txt", "registry.reg", "report.txt", "report.json", "undo.reg"})
      EXPECT_EQ(ReadAll(diskOut / pucFile), ReadAll(folderOut / pucFile)) << disk << " " << pucFile;
    EXPECT_NE(ReadAll(diskOut / "trace.txt").find("\\" + c.image.windowsDir + "\\SYSTEM\\KXUSBPRT.SYS"),
              std::string::npos);
    // The disk's drive/ holds the folders the run searched or changed, as the folder run has them.
    size_t ulFiles = 0;
    for (const auto &entry : fs::recursive_directory_iterator(diskOut / "drive")) {
      if (!entry.is_regular_file())
        continue;
      ++ulFiles;
      fs::path relative = fs::relative(entry.path(), diskOut / "drive");
      EXPECT_EQ(ReadAll(entry.path()), ReadAll(folderOut / "drive" / relative)) << relative;
    }
    EXPECT_GT(ulFiles, 5u);
    // WIN.INI's folder is there only when WinInit.ini was written beside it.
    bool fInUse = std::find(c.args.begin(), c.args.end(), "--in-use") != c.args.end();
    EXPECT_EQ(fs::exists(diskOut / "drive" / c.image.windowsDir / "WIN.INI"), fInUse) << disk;
    EXPECT_TRUE(ReadAll(disk) == before) << "the image was written";
  }
}

TEST_F(DiskTest, ImagesItCannotReadAreRefusedWithOneLine) {
  fs::path disk = Build("win98", {true, 2048, "WINDOWS"});
  std::string bytes = ReadAll(disk);
  auto variant = [&](const std::string &name, size_t offset, const std::string &patch) {
    fs::path path = scratch / name;
    std::string copy = bytes;
    copy.replace(offset, patch.size(), patch);
    std::ofstream(path, std::ios::binary) << copy;
    return path.string();
  };
  std::string noSystemDat = variant("nodat.img", 0, "");
  Mtools("mdel -i " + noSystemDat + "@@" + std::to_string(2048 * 512) + " ::/WINDOWS/SYSTEM.DAT");
  struct Case {
    std::string image;
    std::string message;
  };
  const Case cases[] = {
      {variant("ntfs.img", 446 + 4, "\x07"), "no FAT16 or FAT32 partition"},
      {variant("zero.img", 0, std::string(512, '\0')), "neither a partitioned disk nor a FAT volume"},
      {variant("boot.img", 2048 * 512, std::string(90, '\0')), "holds no readable FAT volume"},
      // The root folder's first cluster number pointing past the end of the volume.
      {variant("fat.img", 2048 * 512 + 44, "\xff\xff\xff\x0f"), "cannot read C:\\"},
      {noSystemDat, "no C:\\WINDOWS\\SYSTEM.DAT on the disk"},
      {(scratch / "none.img").string(), "cannot read the disk image"},
  };
  for (const Case &c : cases) {
    std::string err;
    EXPECT_EQ(Run({"--disk", c.image, "--answers", "yes,no,no"}, "out", &err), simtool::EXIT_TOOL_ERROR) << c.image;
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_FALSE(fs::exists(scratch / "out")) << c.image;
  }
  std::string err;
  EXPECT_EQ(Run({"--disk", disk.string(), "--windows-dir", "C:\\..\\WINDOWS"}, "out", &err), simtool::EXIT_TOOL_ERROR);
  EXPECT_NE(err.find("not a C:\\ path of at most 64 characters"), std::string::npos) << err;
}

}  // namespace
