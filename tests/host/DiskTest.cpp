// uninst-sim --disk: FAT16 and FAT32 images built here with mtools from the sample machines'
// drives and their registries as SYSTEM.DAT; each preview equals the preview of the same machine
// given as a folder and a hive, and the image is left byte for byte as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/host/ToolTest.h"
#include "tests/support/HiveWriter.h"
#include "tools/uninst-sim/Load.h"
#include "tools/uninst-sim/UninstSim.h"

namespace fs = std::filesystem;

namespace {

using tooltest::MachineKeys;
using tooltest::ReadAll;
using tooltest::SAMPLES;
using tooltest::WriteAll;

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

  // A bare FAT16 volume of 8192 sectors, one per cluster, holding the files in its root folder.
  fs::path SmallImage(const std::string &name, const std::vector<std::pair<std::string, std::string>> &files) {
    fs::path image = scratch / name;
    std::ofstream(image, std::ios::binary).close();
    fs::resize_file(image, 8192 * 512);
    Mtools("mformat -i '" + image.string() + "' -T 8192 -c 1 ::");
    fs::create_directories(scratch / "files");
    for (const auto &file : files) {
      std::ofstream(scratch / "files" / file.first, std::ios::binary) << file.second;
      Mtools("mcopy -i '" + image.string() + "' '" + (scratch / "files" / file.first).string() + "' ::/");
    }
    return image;
  }

  // Where a small image's first FAT and root folder start, and cluster 2.
  struct Layout {
    size_t fat, root, data;
  };
  static Layout LayoutOf(const std::string &bytes) {
    auto u16 = [&](size_t at) {
      return static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
    };
    size_t fat = u16(14) * 512u;
    size_t root = fat + static_cast<unsigned char>(bytes[16]) * u16(22) * 512u;
    return {fat, root, root + u16(17) * 32u};
  }

  // Root folder entries from slot on: the long name's parts (ASCII) and the 8.3 entry.
  static void PutEntry(std::string *pBytes, size_t slot, const std::string &longName, const char (&shortName)[12],
                       unsigned char attributes) {
    unsigned char sum = 0;
    for (int i = 0; i < 11; ++i)
      sum = static_cast<unsigned char>(((sum & 1) << 7) + (sum >> 1) + static_cast<unsigned char>(shortName[i]));
    std::u16string units(longName.begin(), longName.end());
    units.push_back(0);
    units.resize((units.size() + 12) / 13 * 13, 0xFFFF);
    size_t parts = units.size() / 13;
    size_t at = LayoutOf(*pBytes).root + slot * 32;
    static const int OFFSETS[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (size_t part = parts; part >= 1; --part, at += 32) {
      std::string entry(32, '\0');
      entry[0] = static_cast<char>(part | (part == parts ? 0x40 : 0));
      entry[11] = 0x0F;
      entry[13] = static_cast<char>(sum);
      for (int i = 0; i < 13; ++i) {
        entry[OFFSETS[i]] = static_cast<char>(units[(part - 1) * 13 + i] & 0xFF);
        entry[OFFSETS[i] + 1] = static_cast<char>(units[(part - 1) * 13 + i] >> 8);
      }
      pBytes->replace(at, 32, entry);
    }
    std::string entry(32, '\0');
    entry.replace(0, 11, shortName, 11);
    entry[11] = static_cast<char>(attributes);
    pBytes->replace(at, 32, entry);
  }

  // The tool refuses the image with exit code 2 and one printable line holding message, and
  // writes nothing.
  void ExpectRefused(const fs::path &image, const std::string &message) {
    std::string err;
    EXPECT_EQ(Run({"--disk", image.string(), "--answers", "yes,no,no"}, "out", &err), uninstsim::EXIT_TOOL_ERROR)
        << image;
    EXPECT_NE(err.find(message), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_TRUE(std::none_of(err.begin(), err.end() - 1, [](char c) { return c >= 0 && (c < 0x20 || c == 0x7F); }))
        << err;
    EXPECT_FALSE(fs::exists(scratch / "out")) << image;
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
  // A vector, not an array: GCC 12's optimiser takes the array's last Image for uninitialised
  // when it destroys it.
  const std::vector<Case> cases = {
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
      EXPECT_EQ(tooltest::RunFile(diskOut, pucFile), tooltest::RunFile(folderOut, pucFile)) << disk << " " << pucFile;
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
    EXPECT_EQ(Run({"--disk", c.image, "--answers", "yes,no,no"}, "out", &err), uninstsim::EXIT_TOOL_ERROR) << c.image;
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_FALSE(fs::exists(scratch / "out")) << c.image;
  }
  std::string err;
  EXPECT_EQ(Run({"--disk", disk.string(), "--windows-dir", "C:\\..\\WINDOWS"}, "out", &err),
            uninstsim::EXIT_TOOL_ERROR);
  EXPECT_NE(err.find("not a C:\\ path of at most 64 characters"), std::string::npos) << err;
}

TEST_F(DiskTest, NamesThatLeaveTheirFolderOrHoldControlCharactersAreRefused) {
  fs::path image = SmallImage("names.img", {});
  const std::string clean = ReadAll(image);
  std::string escape;
  for (int i = 0; i < 12; ++i)
    escape += "../";
  escape += scratch.relative_path().string() + "/escaped";
  struct Case {
    std::string longName;
    unsigned char attributes;
    std::string message;
  };
  const Case cases[] = {
      {escape, 0x10, "a name holding a path separator"},
      {"RWQ\\..\\..\\SYSTEM\\PQMON.INF", 0x20, "a name holding a path separator"},
      {"..", 0x10, "a name that is empty, . or .."},
      {"\x1b]0;x\x07.INF", 0x20, "a name holding a control character: \\x1B]0;x\\x07.INF"},
      {"A\x7f|B.INF", 0x20, "a name holding a control character"},
      {"TalvoRWQ*.INF", 0x20, "a name holding a character Windows forbids"},
  };
  for (const Case &c : cases) {
    std::string bytes = clean;
    PutEntry(&bytes, 0, c.longName, "NAME    INF", c.attributes);
    WriteAll(image, bytes);
    ExpectRefused(image, c.message);
  }
  EXPECT_FALSE(fs::exists(scratch / "escaped"));
  // The Windows directory MSDOS.SYS names is held to the same.
  ExpectRefused(SmallImage("windir.img", {{"MSDOS.SYS", "[Paths]\r\nWinDir=C:\\WIN\x1b[2J\r\n"}}), "not a C:\\ path");
}

TEST_F(DiskTest, EachNameReadsItsOwnFileWhateverTheImageIsCalled) {
  fs::path image = scratch / "pattern@@512.img";
  fs::rename(SmallImage("pattern.img", {{"TalvoRWQ1.INF", "one"}, {"TalvoRWQ[1].INF", "two"}}), image);
  formats::FatDisk disk;
  ASSERT_EQ(uninstsim::OpenDisk(image.string(), &disk), "");
  sim::DriveSource source = uninstsim::DiskSource(disk);
  EXPECT_EQ(source.read("TalvoRWQ1.INF"), "one");
  EXPECT_EQ(source.read("TalvoRWQ[1].INF"), "two");
  fs::create_directories(scratch / "copy");
  EXPECT_EQ(formats::CopyFatFolder(disk, "", (scratch / "copy").string()), "");
  EXPECT_EQ(ReadAll(scratch / "copy" / "TalvoRWQ[1].INF"), "two");
  EXPECT_NE(formats::CopyFatFolder(disk, "", (scratch / "none").string()), "");
}

TEST_F(DiskTest, ClustersOfTwoFilesOrLoopingChainsAreRefusedAsDamaged) {
  fs::path image = SmallImage("links.img", {{"A.INF", "a"}, {"B.INF", std::string(1500, 'b')}});
  const std::string clean = ReadAll(image);
  const Layout layout = LayoutOf(clean);
  struct Case {
    size_t offset;
    std::string patch;
    std::string message;
  };
  const Case cases[] = {
      // B.INF's first cluster (3) made A.INF's (2).
      {layout.root + 32 + 26, std::string("\x02\x00", 2), "cluster 2 belongs to two files or twice to one"},
      // B.INF's last cluster (5) leading back to its first, or marked free.
      {layout.fat + 5 * 2, std::string("\x03\x00", 2), "cluster 3 belongs to two files or twice to one"},
      {layout.fat + 5 * 2, std::string("\x00\x00", 2), "its cluster chain leaves the volume (0)"},
      {layout.root + 28, std::string("\x01\x02", 2), "its size is more than its clusters hold"},
  };
  for (const Case &c : cases) {
    std::string bytes = clean;
    bytes.replace(c.offset, c.patch.size(), c.patch);
    WriteAll(image, bytes);
    ExpectRefused(image, "the volume is damaged: " + c.message);
  }
}

TEST_F(DiskTest, BootSectorsThatDoNotFitTheirRoomAreRefusedNamingTheField) {
  fs::path image = SmallImage("geometry.img", {});
  const std::string clean = ReadAll(image);
  struct Case {
    std::vector<std::pair<size_t, std::string>> patches;
    std::string message;
  };
  const Case cases[] = {
      {{{11, std::string("\0\4", 2)}}, "bytes per sector 1024"},
      {{{13, "\3"}}, "sectors per cluster 3"},
      {{{13, std::string(1, '\0')}}, "sectors per cluster 0"},
      {{{14, std::string(2, '\0')}}, "reserved sectors 0"},
      {{{16, std::string(1, '\0')}}, "number of FATs 0"},
      {{{19, std::string("\1\x20", 2)}}, "total sectors 8193 (more than the image holds: 8192)"},
      {{{19, std::string(2, '\0')}, {32, "\xf0\xff\xff\xff"}}, "total sectors 4294967280"},
      {{{22, std::string("\0\x10", 2)}}, "sectors per FAT 4096 (larger than the volume)"},
      {{{17, std::string(2, '\0')}}, "root folder entries 0"},
  };
  for (const Case &c : cases) {
    std::string bytes = clean;
    for (const auto &patch : c.patches)
      bytes.replace(patch.first, patch.second.size(), patch.second);
    WriteAll(image, bytes);
    ExpectRefused(image, "geometry.img: boot sector: " + c.message);
  }
  // A partition whose volume claims more sectors than the partition table gives it.
  std::string bytes = std::string(63 * 512, '\0') + clean;
  WriteAll(image, bytes);
  WritePartitionTable(image, 0x06, 63, 8000);
  ExpectRefused(image, "partition 1: boot sector: total sectors 8192 (more than partition 1 holds: 8000)");
}

}  // namespace
