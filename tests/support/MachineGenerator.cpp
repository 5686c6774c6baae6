#include "tests/support/MachineGenerator.h"

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>

#include "platform/registry.h"
#include "platform/sim/sim.h"
#include "tools/uninst-sim/Load.h"

namespace fs = std::filesystem;

namespace gen {

namespace {

const os::HKEY HKLM = os::HKEY_LOCAL_MACHINE;
const std::string CLASS_KEY = "System\\CurrentControlSet\\Services\\Class\\USB";
const std::string CONTROL = "System\\CurrentControlSet\\Control\\";
const std::string PORTS = CONTROL + "Print\\Ports\\";
const std::string MONITORS = CONTROL + "Print\\Monitors\\";
const std::string ASD = CONTROL + "ASD\\Prob\\";
const char *const ASD_CLASSES[] = {"{CF2524C0-29AE-11CF-97EA-00AA0034319D}", "{9B4E7760-3196-11CF-97EA-00AA0034319D}"};
const std::string CLASSES = CONTROL + "DeviceClasses\\";
const std::string PRINTER_GUID = "{28D78FAD-5A12-11D1-AE5B-0000F803A8C2}";
const std::string OEM_NAME = "Software\\Microsoft\\Windows\\CurrentVersion\\Setup\\SetupX\\INF\\OEM Name";
const std::string DYN_ENUM = "Config Manager\\Enum";
const std::string WINDOWS_DIR = "C:\\WINDOWS\\";
const std::string SYSTEM_DIR = "C:\\WINDOWS\\SYSTEM\\";
const std::string INF_DIR = "C:\\WINDOWS\\INF\\";
const std::string OTHER_DIR = "C:\\WINDOWS\\INF\\OTHER\\";
const std::string WININIT = "C:\\WINDOWS\\WININIT.INI";
const os::DWORD REG_BINARY = 3;

// Names compare ignoring the case of ASCII letters only, as on the drive and in the registry.
std::string Fold(std::string text) {
  for (char &c : text) {
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The folder a Windows path's last separator ends, as Win32 resolves it, with a final '\': '/' as
// '\', empty and "." components dropped, ".." removing the one before it and stopping at C:\, a
// folder name losing one trailing dot (one still ending in a dot or blank names no folder).
// *pRest receives what follows that separator.
std::string ResolvedFolder(const std::string &winPath, std::string *pRest) {
  size_t last = winPath.find_last_of("\\/");
  *pRest = winPath.substr(last + 1);
  std::vector<std::string> parts;
  std::string part;
  for (size_t i = 3; i <= last; ++i) {
    if (winPath[i] != '\\' && winPath[i] != '/') {
      part += winPath[i];
      continue;
    }
    if (part == "..") {
      if (!parts.empty())
        parts.pop_back();
    } else if (part != ".") {
      if (!part.empty() && part.back() == '.')
        part.pop_back();
      if (!part.empty())
        parts.push_back(part);
    }
    part.clear();
  }
  std::string folder = "C:\\";
  for (const std::string &name : parts)
    folder += name + "\\";
  return folder;
}

// The other case of each Latin-1 letter beyond ASCII: a different name on the drive.
std::string OtherHighCase(std::string text) {
  for (char &c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0xC0 && u <= 0xDE && u != 0xD7)
      c = static_cast<char>(u + 0x20);
    else if (u >= 0xE0 && u <= 0xFE && u != 0xF7)
      c = static_cast<char>(u - 0x20);
  }
  return text;
}

struct Rng {
  std::mt19937 engine;
  int Int(int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(engine);
  }
  bool Chance(int iPercent) {
    return Int(0, 99) < iPercent;
  }
  std::string Hex(int iDigits) {
    static const char DIGITS[] = "0123456789ABCDEF";
    std::string text;
    for (int i = 0; i < iDigits; ++i)
      text += DIGITS[Int(0, 15)];
    return text;
  }
  std::string Digits(int iDigits) {
    std::string text;
    for (int i = 0; i < iDigits; ++i)
      text += static_cast<char>('0' + Int(0, 9));
    return text;
  }
  template <class T>
  const T &Pick(const std::vector<T> &items) {
    return items[static_cast<size_t>(Int(0, static_cast<int>(items.size()) - 1))];
  }
  std::string Guid() {
    return "{" + Hex(8) + "-" + Hex(4) + "-" + Hex(4) + "-" + Hex(4) + "-" + Hex(12) + "}";
  }
  // A code page 1252 letter beyond ASCII, now and then one of the five undefined bytes.
  std::string HighLetter() {
    static const std::vector<std::string> LETTERS = {"\xE9", "\xC9", "\xFC", "\xDF", "\xD8", "\x9C", "\x8A",
                                                     "\xF1", "\x81", "\x8D", "\x8F", "\x90", "\x9D"};
    return Pick(LETTERS);
  }
  // The name in another ASCII case: as given, lower, upper, capitalised or mixed.
  std::string Spell(std::string name) {
    int iHow = Int(0, 4);
    bool fFirst = true;
    for (char &c : name) {
      bool fLetter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
      bool fUpper = iHow == 2 || (iHow == 3 && fFirst) || (iHow == 4 && Chance(50));
      if (fLetter && iHow != 0)
        c = static_cast<char>(fUpper ? (c & ~0x20) : (c | 0x20));
      fFirst = !fLetter;
    }
    return name;
  }
};

// The program's own rules for the name parts it builds, so that the model names the same keys.
std::string CutAtSecondAmpersand(const std::string &id) {
  size_t first = id.find('&');
  size_t second = first == std::string::npos ? first : id.find('&', first + 1);
  return second == std::string::npos ? id : id.substr(0, second);
}

std::string DeviceKeyTail(const std::string &deviceKey, size_t ulOffset) {
  size_t pos = std::string::npos;
  int iCount = 0;
  for (size_t i = 0; i < deviceKey.size(); ++i) {
    if (deviceKey[i] == '&' && ++iCount == 3) {
      pos = i;
      break;
    }
  }
  if (pos == std::string::npos)
    return deviceKey;
  return deviceKey.substr(std::min(pos + ulOffset, deviceKey.size()));
}

int CountAmpersands(const std::string &text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '&'));
}

bool MatchesPattern(const std::string &name, const std::string &prefix) {
  std::string folded = Fold(name);
  std::string head = Fold(prefix);
  return folded.size() >= head.size() + 4 && folded.compare(0, head.size(), head) == 0 &&
         folded.compare(folded.size() - 4, 4, ".inf") == 0;
}

struct Printer {
  std::string node;  // driver node name
  std::string driver = "KXUSBPRT.SYS";
  std::string id, deviceKey, friendly, provider = "Talvo", pnp, symbolic;
  std::string shortSymbolic;
  bool fId = true, fDeviceKey = true, fFriendly = true, fPort = true, fProvider = true, fPnp = true;
  bool fSymbolic = true, fInstance = true, fConfigured = true, fShortInstance = false;
  bool fAsd[2][2] = {{true, true}, {true, false}};  // [class][0 LPTENUM name, 1 USB name]

  bool Short() const {
    return CountAmpersands(id) >= 2;
  }
  std::string UsbName() const {
    return "USB\\" + id + "\\" + deviceKey;
  }
  std::string LptName(int iOsForm) const {
    std::string part = Short() ? DeviceKeyTail(deviceKey, iOsForm == 1 ? 2 : 5) : deviceKey;
    return "LPTENUM\\" + pnp + "\\" + pnp + "USB&" + id + part;
  }
};

struct AsdValue {
  std::string name;
  bool fBig;
};

struct DriveFile {
  std::string path;  // as the generator names it; the drive spells it in another case
  std::string bytes;
  bool fPackageInf;
  bool fInUse;
};

// Provider names that move the search of INF\OTHER: dot components, subfolders, climbs past C:\,
// separators of both kinds.
const std::vector<std::string> PROVIDER_PATHS = {
    ".\\",
    "..\\",
    "..\\OTHER\\",
    "..\\other\\Talvo",
    "..\\INF\\",
    "..\\..\\..\\..\\..\\X\\",
    "Sub\\",
    "Sub.\\",
    "Sub \\Talvo",
    "\\",
    "..//",
    ".\\Talvo",
    "..\\Talvo",
    "..\\..\\..\\",
    "..\\..\\System\\",
};
// Provider names with letters beyond ASCII: the search pattern then holds them, and a name with
// their other case is another file's.
const std::vector<std::string> HIGH_PROVIDERS = {"Talv\xE9", "TALV\xC9", "T\xE4lvo", "T\x81lvo", "\xD8Talvo"};

// INF texts whose verdict is known by construction.
const std::vector<std::string> PACKAGE_INFS = {
    "[Version]\r\nSignature=\"$CHICAGO$\"\r\nClass=USB\r\nProvider=%Mfg%\r\n\r\n[Strings]\r\nMfg=\"Talvo\"\r\n",
    "[Version]\r\nSignature=\"$CHICAGO$\"\r\nClass=USB\r\nProvider=Talvo\r\n",
    "; printer support\r\n[Version]\r\nClass=USB ; bus\r\nProvider=%TV%\r\nLayoutFile=layout.inf\r\n\r\n"
    "[Manufacturer]\r\n%TV%=Talvo\r\n\r\n[Strings]\r\nDisk=\"Talvo disk\"\r\nTV=\"Talvo\"\r\n",
    "[Version]\r\nProvider=Talvo\r\nClass=USB\r\n[Install]\r\nCopyFiles=x\r\n",
};
const std::vector<std::string> FOREIGN_INFS = {
    "[Version]\r\nSignature=\"$CHICAGO$\"\r\nClass=Image\r\nProvider=%Q%\r\n\r\n[Strings]\r\nQ=\"Quellin\"\r\n",
    "[Version]\r\nClass=USB\r\nProvider=Talvox\r\n",
    "[Version]\r\nClass=USB\r\nProvider=%Mfg%\r\n\r\n[Strings]\r\nMfg=\"Talvo Inc\"\r\n",
    "[Version]\r\nClass=USBPrint\r\nProvider=Talvo\r\n",
    "[Version]\r\nClass=USB\r\nprovider=Talvo\r\n",
    "[Version]\r\nClass=USB\r\n;Provider=Talvo\r\n",
    "[Version]\r\nClass=USB\r\n[Other]\r\nProvider=Talvo\r\n",
    "[Strings]\r\nMfg=\"Talvo\"\r\n",
    "[Version]\r\nClass=USB\tx\r\nProvider=Talvo\r\n",
};

class Builder {
 public:
  Builder(const Options &options) : m_options(options), m_rng{std::mt19937(options.seed)} {}

  Expectation Build() {
    sim::Reset();
    m_fVar = m_options.fVariations;
    m_e.iMinorVersion = m_fVar && m_rng.Chance(30) ? 90 : 10;
    m_iOsForm = m_e.iMinorVersion == 90 ? 1 : 0;
    sim::SetMinorVersion(static_cast<os::DWORD>(m_e.iMinorVersion));
    m_e.fMoveFileEx = m_fVar && m_rng.Chance(20);
    sim::SetMoveFileExSupported(m_e.fMoveFileEx);
    BuildBase();
    BuildPrinters();
    BuildForeignNodes();
    WriteClassNodes();
    BuildDynamicData();
    WriteAsdValues();
    BuildVendorKeys();
    BuildFiles();
    WriteDrive();
    if (m_e.fConnected) {
      m_e.iExitCode = 5;
    } else {
      ModelPasses();
      ModelLeftovers();
    }
    m_e.iPackagePrinters = static_cast<int>(m_printers.size());
    m_e.lKeys = CountKeys();
    return m_e;
  }

  void SetPackageCount(int iCount) {
    m_iPackageCount = iCount;
  }

 private:
  // ---- writing ----
  void Mark(const std::string &path) {
    std::string folded = Fold(path);
    for (size_t i = folded.find('\\'); i != std::string::npos; i = folded.find('\\', i + 1))
      m_existing.insert(folded.substr(0, i));
    m_existing.insert(folded);
  }
  void Key(const std::string &path) {
    sim::CreateKey(HKLM, path);
    Mark(path);
  }
  void Text(const std::string &path, const std::string &name, const std::string &data) {
    sim::SetStringValue(HKLM, path, name, data);
    Mark(path);
  }
  bool Exists(const std::string &path) const {
    return m_existing.count(Fold(path)) != 0;
  }
  std::string Unique(const std::function<std::string()> &make) {
    for (;;) {
      std::string name = make();
      if (m_names.insert(Fold(name)).second)
        return name;
    }
  }

  void BuildBase() {
    Text(CLASS_KEY, "", "Universal Serial Bus controllers");
    Text(CLASS_KEY, "Class", "USB");
    Text(MONITORS + "Local Port", "Driver", "localmon.dll");
    Text(PORTS + "LPT1:", "Description", "Printer Port");
    Key(CLASSES.substr(0, CLASSES.size() - 1));
    Key("Enum\\USB");
    Key(OEM_NAME);
    for (int c = 0; c < 2; ++c) {
      m_fAsdKey[c] = !m_fVar || !m_rng.Chance(4);
      if (m_fAsdKey[c])
        Key(ASD + ASD_CLASSES[c]);
    }
  }

  void BuildPrinters() {
    int iCount = m_iPackageCount >= 0 ? m_iPackageCount : m_rng.Int(0, 5);
    for (int i = 0; i < iCount; ++i) {
      Printer p;
      bool fShare = m_fVar && i > 0 && !m_printers.back().Short() && m_rng.Chance(10);
      bool fShort = m_fVar && !fShare && m_rng.Chance(25);
      if (fShare) {
        p.id = m_printers.back().id;
      } else {
        p.id = Unique([&] { return "VID_7A11&PID_" + m_rng.Hex(4); });
        if (fShort)
          p.id += "&MI_0" + m_rng.Digits(1);
      }
      p.deviceKey = Unique([&] { return "5&" + m_rng.Hex(m_rng.Int(5, 8)) + "&0&" + m_rng.Digits(m_rng.Int(1, 8)); });
      p.friendly = Unique([&] { return "TUSB" + m_rng.Digits(3); });
      p.pnp = m_rng.Pick(std::vector<std::string>{"TALVOP1000", "TALVOP1100", "TALVOP2000"});
      std::string guid = m_rng.Chance(60) ? PRINTER_GUID : m_rng.Guid();
      p.symbolic = "\\\\.\\USB#" + p.id + "#" + p.deviceKey + "#" + guid;
      if (m_fVar)
        Vary(&p, fShare);
      m_printers.push_back(p);
      WritePrinterDevices(m_printers.back());
    }
  }

  void Vary(Printer *p, bool fShare) {
    if (m_rng.Chance(20))
      p->driver = m_rng.Pick(std::vector<std::string>{"kxusbprt.sys", "KxUsbPrt.Sys"});
    if (m_rng.Chance(10))
      p->provider = "TalvoCorp";
    if (m_rng.Chance(20))
      p->provider = m_rng.Pick(PROVIDER_PATHS);
    else if (m_rng.Chance(15))
      p->provider = m_rng.Pick(HIGH_PROVIDERS);
    if (m_rng.Chance(3))
      p->provider = std::string(39, 'T');  // too long for its buffer: never taken
    p->fProvider = !m_rng.Chance(15);
    p->fFriendly = !m_rng.Chance(10);
    p->fPort = !m_rng.Chance(5);
    p->fPnp = !m_rng.Chance(10);
    p->fSymbolic = !m_rng.Chance(10);
    if (m_rng.Chance(5))
      p->symbolic = "\\\\.\\USB#" + p->id + "#" + p->deviceKey + "#noclass";
    if (m_rng.Chance(10))
      p->symbolic = Fold(p->symbolic);
    p->fId = !m_rng.Chance(5);
    // A missing DeviceKey or type key leaves the short-ID flag of the node before; only IDs that
    // the cut leaves whole may miss them, so the stale flag opens nothing.
    if (!p->Short()) {
      p->fDeviceKey = !m_rng.Chance(5);
      if (!fShare && m_rng.Chance(5))
        m_missingType.insert(Fold(p->id));
    }
    p->fInstance = !m_rng.Chance(8);
    p->fConfigured = m_rng.Chance(70);
    p->fAsd[0][0] = m_rng.Chance(70);
    p->fAsd[0][1] = m_rng.Chance(70);
    p->fAsd[1][0] = m_rng.Chance(20);
    p->fAsd[1][1] = m_rng.Chance(70);
    p->fShortInstance = p->Short() && m_rng.Chance(75);
  }

  void WritePrinterDevices(const Printer &p) {
    if (p.fFriendly && p.fPort)
      Text(PORTS + p.friendly, "Description", "Talvo USB Port");
    if (!p.fId)
      return;
    const std::string type = "Enum\\USB\\" + p.id;
    if (m_missingType.count(Fold(p.id)) == 0) {
      Key(type);
      m_instances[Fold(p.id)];
      if (m_fVar && m_rng.Chance(15)) {
        std::string other = Unique([&] { return "5&" + m_rng.Hex(7) + "&0&9"; });
        Text(type + "\\" + other, "DeviceDesc", "Talvo USB Printer (other instance)");
        m_instances[Fold(p.id)].insert(Fold(other));
      }
      if (p.fInstance) {
        const std::string instance = type + "\\" + p.deviceKey;
        Text(instance, "DeviceDesc", "Talvo USB Printer");
        Text(instance, "Class", "USB");
        if (p.fPnp)
          Text(instance, "idPrinterPNP", p.pnp);
        if (p.fSymbolic)
          Text(instance, "SymbolicName", p.symbolic);
        m_instances[Fold(p.id)].insert(Fold(p.deviceKey));
      }
    }
    if (p.fPnp && p.fConfigured) {
      const std::string lpt = "Enum\\" + p.LptName(m_iOsForm);
      Text(lpt, "DeviceDesc", "Talvo " + p.pnp);
      Text(lpt, "Class", "Printer");
    }
    size_t brace = p.symbolic.find('{');
    if (brace != std::string::npos && (!m_fVar || m_rng.Chance(85))) {
      std::string guid = p.symbolic.substr(brace);
      Text(CLASSES + guid + "\\##.#USB#" + p.id + "#" + p.deviceKey + "#" + guid, "DeviceInstance", p.UsbName());
    }
    for (int c = 0; c < 2; ++c) {
      if (p.fAsd[c][0] && p.fPnp)
        m_asd[c].push_back({p.LptName(m_iOsForm), false});
      if (p.fAsd[c][1])
        m_asd[c].push_back({p.UsbName(), false});
    }
    if (p.fShortInstance) {
      std::string shortId = CutAtSecondAmpersand(p.id);
      std::string tail = DeviceKeyTail(p.deviceKey, 1);
      std::string guid = m_rng.Chance(50) ? PRINTER_GUID : m_rng.Guid();
      std::string path = "Enum\\USB\\" + shortId + "\\" + tail;
      Text(path, "DeviceDesc", "Talvo USB Printer");
      Text(path, "SymbolicName", "\\\\.\\USB#" + shortId + "#" + tail + "#" + guid);
      m_instances[Fold(shortId)].insert(Fold(tail));
      m_shortSymbolic[Fold(path)] = "\\\\.\\USB#" + shortId + "#" + tail + "#" + guid;
      Text(CLASSES + guid + "\\##.#USB#" + shortId + "#" + tail + "#" + guid, "DeviceInstance", "USB\\" + shortId);
    }
  }

  struct ForeignNode {
    std::string driverValue;  // empty: no NTKXDriver
    std::string id, deviceKey, friendly;
  };

  void BuildForeignNodes() {
    int iCount = m_options.iForeignNodes >= 0 ? m_options.iForeignNodes : m_rng.Int(100, 300);
    static const std::vector<std::string> OTHERS = {"QLSCAN.SYS", "USBHUB.SYS", "HIDUSB.SYS", "USBCAM.SYS"};
    static const std::vector<std::string> NEAR = {"KXUSBPRT.SY", "KXUSBPRT.SYS.OLD", "XKXUSBPRT.SYS",
                                                  "KXUSBPRT",    "KXUSBPRT.SYS ",    "KXUSBPRT_SYS"};
    for (int i = 0; i < iCount; ++i) {
      ForeignNode node;
      int iKind = m_rng.Int(0, 9);
      if (iKind >= 3)
        node.driverValue = iKind >= 8 && m_fVar ? m_rng.Pick(NEAR) : m_rng.Pick(OTHERS);
      if (m_fVar && !m_printers.empty() && m_rng.Chance(5) &&
          m_missingType.count(Fold(m_printers[static_cast<size_t>(i) % m_printers.size()].id)) == 0) {
        node.id = m_printers[static_cast<size_t>(i) % m_printers.size()].id;  // under a package type key
      } else {
        node.id = Unique([&] { return "VID_" + m_rng.Hex(4) + "&PID_" + m_rng.Hex(4); });
        if (node.id.compare(4, 4, "7A11") == 0 && !m_fVar)
          node.id[4] = '8';
      }
      node.deviceKey = Unique([&] { return "5&" + m_rng.Hex(7) + "&0&" + m_rng.Digits(1); });
      node.friendly = Unique([&] { return "QUSB" + m_rng.Digits(6); });
      m_foreign.push_back(node);
      WriteForeignDevice(node);
    }
    if (m_options.iFillerKeys > 0) {
      for (int i = 0; i < m_options.iFillerKeys / 2; ++i) {
        std::string path = "Enum\\PCI\\VEN_" + m_rng.Hex(4) + "&DEV_" + std::to_string(i);
        Text(path + "\\BUS_00&DEV_07", "Class", "System");
      }
    }
  }

  void WriteForeignDevice(const ForeignNode &node) {
    const std::string type = "Enum\\USB\\" + node.id;
    const std::string instance = type + "\\" + node.deviceKey;
    Text(instance, "DeviceDesc", "Quellin USB device");
    m_instances[Fold(node.id)].insert(Fold(node.deviceKey));
    bool fPrinter = m_rng.Chance(30);
    if (fPrinter) {
      Text(instance, "idPrinterPNP", "QUELLP20");
      Text("Enum\\LPTENUM\\QUELLP20\\QUELLP20USB&" + node.id + node.deviceKey, "Class", "Printer");
    }
    std::string guid = m_rng.Chance(20) ? PRINTER_GUID : m_rng.Pick(m_foreignGuids);
    std::string symbolic = "\\\\.\\USB#" + node.id + "#" + node.deviceKey + "#" + guid;
    Text(instance, "SymbolicName", symbolic);
    Text(CLASSES + guid + "\\##.#USB#" + node.id + "#" + node.deviceKey + "#" + guid, "DeviceInstance",
         "USB\\" + node.id + "\\" + node.deviceKey);
    if (m_rng.Chance(40))
      Text(PORTS + node.friendly, "Description", "Quellin USB Port");
    for (int c = 0; c < 2; ++c) {
      if (m_rng.Chance(30))
        m_asd[c].push_back({"USB\\" + node.id + "\\" + node.deviceKey, false});
    }
    if (m_rng.Chance(50))
      m_dynamic.push_back("USB\\" + node.id + "\\" + node.deviceKey);
  }

  void WriteClassNodes() {
    std::vector<int> order;  // >= 0 printer, < 0 foreign node -(i + 1)
    for (size_t i = 0; i < m_printers.size(); ++i)
      order.push_back(static_cast<int>(i));
    for (size_t i = 0; i < m_foreign.size(); ++i)
      order.push_back(-static_cast<int>(i) - 1);
    std::shuffle(order.begin(), order.end(), m_rng.engine);
    char ucName[32];
    for (size_t i = 0; i < order.size(); ++i) {
      std::snprintf(ucName, sizeof ucName, "%04zu", i);
      const std::string node = CLASS_KEY + "\\" + ucName;
      if (order[i] >= 0) {
        Printer &p = m_printers[static_cast<size_t>(order[i])];
        p.node = ucName;
        m_classOrder.push_back(static_cast<size_t>(order[i]));
        Text(node, "DriverDesc", "Talvo USB Printing Support");
        Text(node, "NTKXDriver", p.driver);
        if (p.fProvider)
          Text(node, "ProviderName", p.provider);
        if (p.fId)
          Text(node, "ID", p.id);
        if (p.fDeviceKey)
          Text(node, "DeviceKey", p.deviceKey);
        if (p.fFriendly)
          Text(node, "FriendlyName", p.friendly);
      } else {
        const ForeignNode &f = m_foreign[static_cast<size_t>(-order[i] - 1)];
        Text(node, "DriverDesc", "Quellin USB device");
        if (f.driverValue.empty())
          Text(node, "NTMPDriver", "usbhub.sys");
        else
          Text(node, "NTKXDriver", f.driverValue);
        Text(node, "ProviderName", "Quellin");
        Text(node, "ID", f.id);
        Text(node, "DeviceKey", f.deviceKey);
        Text(node, "FriendlyName", f.friendly);
      }
    }
  }

  void BuildDynamicData() {
    int iCount = m_options.iDynamicEntries >= 0 ? m_options.iDynamicEntries : m_rng.Int(50, 250);
    std::vector<std::string> hardware = m_dynamic;
    static const std::vector<std::string> SYSTEM = {"ROOT\\*PNP0A03\\0000", "ROOT\\*PNP0C01\\0000",
                                                    "PCI\\VEN_8086&DEV_7110\\BUS_00&DEV_07&FUNC_00"};
    while (static_cast<int>(hardware.size()) < iCount)
      hardware.push_back(m_rng.Pick(SYSTEM) + std::to_string(hardware.size()));
    hardware.resize(static_cast<size_t>(iCount));
    // Near misses of the package's names never count as connected.
    for (const Printer &p : m_printers) {
      if (m_fVar && m_rng.Chance(30))
        hardware.push_back(Fold(p.UsbName()));
      if (m_fVar && m_rng.Chance(20))
        hardware.push_back(p.UsbName() + "0");
    }
    std::vector<size_t> eligible;
    for (size_t i = 0; i < m_printers.size(); ++i) {
      const Printer &p = m_printers[i];
      if (p.fId && p.fDeviceKey && p.fInstance && p.fPnp && m_missingType.count(Fold(p.id)) == 0)
        eligible.push_back(i);
    }
    std::string live;
    if (m_fVar && !eligible.empty() && m_rng.Chance(12)) {
      m_e.fConnected = true;
      live = m_printers[m_rng.Pick(eligible)].UsbName();
      hardware.push_back(live);
    }
    std::shuffle(hardware.begin(), hardware.end(), m_rng.engine);
    for (const std::string &key : hardware) {
      std::string path = DYN_ENUM + "\\" + Unique([&] { return "C" + m_rng.Hex(7); });
      if (m_fVar && m_rng.Chance(3) && key != live) {
        sim::CreateKey(os::HKEY_DYN_DATA, path);
      } else {
        sim::SetStringValue(os::HKEY_DYN_DATA, path, "HardWareKey", key);
      }
      sim::SetValue(os::HKEY_DYN_DATA, path, "Status", REG_BINARY, std::string("\0\0\0\0", 4));
    }
  }

  void WriteAsdValues() {
    int iCount = m_options.iAsdValues >= 0 ? m_options.iAsdValues : m_rng.Int(20, 120);
    for (int c = 0; c < 2; ++c) {
      if (!m_fAsdKey[c])
        continue;
      std::vector<AsdValue> &values = m_asd[c];
      for (int i = 0; i < iCount; ++i)
        values.push_back(
            {"PCI\\VEN_8086&DEV_" + m_rng.Hex(4) + "\\BUS_00&DEV_" + m_rng.Digits(2) + "&FUNC_" + std::to_string(i),
             false});
      for (const Printer &p : m_printers) {
        if (m_fVar && m_rng.Chance(30))
          values.push_back({p.UsbName() + "0", false});
        if (m_fVar && m_rng.Chance(30))
          values.push_back({p.UsbName().substr(0, p.UsbName().size() - 1), false});
      }
      if (m_fVar && m_rng.Chance(8))
        values.push_back({"USB\\VID_0BAD&PID_0001\\5&LARGE&0&1", true});
      std::shuffle(values.begin(), values.end(), m_rng.engine);
      std::set<std::string> seen;
      std::vector<AsdValue> kept;
      for (const AsdValue &value : values) {
        // A near miss may equal a real package name by chance; it then is that name.
        if (!seen.insert(Fold(value.name)).second)
          continue;
        std::string data = value.fBig ? std::string(400, '\x01') : std::string("\x01\0\0\0", 4);
        sim::SetValue(HKLM, ASD + ASD_CLASSES[c], value.name, REG_BINARY, data);
        kept.push_back(value);
      }
      values = kept;
    }
  }

  void BuildVendorKeys() {
    if (!m_fVar || m_rng.Chance(90))
      Text(MONITORS + "KXUSBMON", "Driver", "KXUSBMON.DLL");
    Text(MONITORS + "QLMON", "Driver", "qlmon.dll");
    for (const char *pucVendor : {"Software\\VRAX", "Software\\Moravent2"}) {
      std::string vendor = pucVendor;
      int iShape = m_rng.Int(0, 9);
      if (iShape == 0)
        continue;
      Text(vendor, "Vendor", "yes");
      if (iShape >= 2)
        Text(vendor + "\\USB\\BDPM", "Version", "1.20");
      else
        Key(vendor + "\\USB");
      if (m_fVar && m_rng.Chance(15))
        Text(vendor + "\\USB\\Other", "x", "1");
      if (m_fVar && m_rng.Chance(20))
        Text(vendor + "\\Scanner", "x", "1");
    }
    Text("Software\\Quellin\\USB\\BDPM", "Version", "2.0");
    if (!Exists("Enum\\LPTENUM") && m_fVar && m_rng.Chance(50))
      Key("Enum\\LPTENUM");
    // The fixed key table names it in capitals; the registry keeps the spelling it was made with.
    m_fLptEnum = m_existing.count(Fold("Enum\\LPTENUM")) != 0;
    m_fLptEnumEmpty = m_fLptEnum && !HasChildren("Enum\\LPTENUM");
  }

  bool HasChildren(const std::string &path) const {
    std::string prefix = Fold(path) + "\\";
    auto it = m_existing.lower_bound(prefix);
    return it != m_existing.end() && it->compare(0, prefix.size(), prefix) == 0;
  }

  void PutFile(const std::string &path, const std::string &bytes, bool fPackageInf = false) {
    m_files[Fold(path)] = DriveFile{path, bytes, fPackageInf, false};
  }

  // A new INF name in a folder: the head, a prefix of the search patterns or a near miss, hex
  // digits and now and then a letter beyond ASCII.
  std::string InfName(const std::string &dir, const std::string &head) {
    static const std::vector<std::string> PREFIXES = {"RWQ", "ZNK", "rwq", "Znk"};
    std::string path = Unique([&] {
      std::string name = dir + head + m_rng.Pick(PREFIXES);
      name += m_rng.Hex(m_rng.Int(0, 5));
      if (m_rng.Chance(25))
        name += m_rng.HighLetter();
      return name + ".INF";
    });
    return path.substr(dir.size());
  }

  // An INF file. One in INF\OTHER mostly has its OEM Name entry, its path in any ASCII case, now
  // and then beside an entry for the name with the other case of its letters beyond ASCII.
  void WriteInf(const std::string &dir, const std::string &name, bool fPackage) {
    const std::string &text = fPackage ? m_rng.Pick(PACKAGE_INFS) : m_rng.Pick(FOREIGN_INFS);
    PutFile(dir + name, text, fPackage);
    (fPackage ? m_e.packageInfs : m_e.foreignInfs).push_back(text);
    if (dir != OTHER_DIR || !m_rng.Chance(70))
      return;
    sim::SetStringValue(HKLM, OEM_NAME, m_rng.Chance(30) ? m_rng.Spell(dir + name) : dir + name, name);
    if (OtherHighCase(name) != name && m_rng.Chance(30))
      sim::SetStringValue(HKLM, OEM_NAME, dir + OtherHighCase(name), OtherHighCase(name));
  }

  void BuildFiles() {
    for (const char *pucName : {"KXUSBMON.DLL", "KXUSBPRT.SYS", "KXUSBADD.DLL"}) {
      if (m_fVar && m_rng.Chance(15))
        continue;
      PutFile(SYSTEM_DIR + pucName, std::string("MZ package ") + pucName);
      bool fInUse = m_fVar && m_rng.Chance(15);
      m_files[Fold(SYSTEM_DIR + pucName)].fInUse = fInUse;
      m_systemFiles.push_back({SYSTEM_DIR + pucName, fInUse});
    }
    for (const char *pucName : {"QLSCAN.SYS", "LOCALMON.DLL", "KXUSBPRT.SY_", "KXUSBMON.DLL.BAK", "KXUSBADD.DL",
                                "USBPRINT.SYS", "KXUSBMON.DL"}) {
      if (m_rng.Chance(70))
        PutFile(SYSTEM_DIR + pucName, std::string("MZ foreign ") + pucName);
    }
    PutFile(WINDOWS_DIR + "WIN.INI", "[windows]\r\nload=\r\n");
    // Where the provider's search of INF\OTHER looks, and its part of the pattern there.
    std::string head;
    const std::string reached = ResolvedFolder(OTHER_DIR + ExpectedProvider() + "RWQ*.INF", &head);
    head.resize(head.size() - 8);
    int iInfs = m_rng.Int(4, 12);
    for (int i = 0; i < iInfs; ++i) {
      std::string name = InfName(INF_DIR, "");
      WriteInf(INF_DIR, name, m_rng.Chance(50));
    }
    for (const char *pucName : {"OEM3.INF", "XRWQ1.INF", "RWQUSB.INF.BAK", "ZNKUSB.IN", "RW.INF"})
      if (m_rng.Chance(50))
        WriteInf(INF_DIR, pucName, true);
    if (!m_fVar || !m_rng.Chance(5)) {
      const std::vector<std::string> heads = {"Talvo", "Quellin", "TalvoCorp", "", "Talv", head, OtherHighCase(head)};
      int iOther = m_rng.Int(3, 10);
      for (int i = 0; i < iOther; ++i) {
        std::string name = InfName(OTHER_DIR, m_rng.Pick(heads));
        WriteInf(OTHER_DIR, name, m_rng.Chance(60));
      }
    }
    if (Fold(reached) != Fold(OTHER_DIR))
      PlaceReachedInfs(reached, head);
    if (m_fVar && m_rng.Chance(30)) {
      PutFile(WININIT, m_rng.Pick(std::vector<std::string>{"[rename]\r\nNUL=C:\\OLD.TMP\r\n", "[Other]\r\nx=y\r\n", "",
                                                           "[RENAME]\r\n"}));
    }
  }

  // INF files in the folder that the provider's search reaches, some with a namesake in INF\OTHER
  // (the file the program then opens), and a folder whose name the search matches. A folder name
  // the search keeps a trailing dot or blank of reaches nothing: they go where it would lead
  // without them.
  void PlaceReachedInfs(std::string folder, const std::string &head) {
    size_t at = 0;
    while ((at = folder.find(" \\")) != std::string::npos || (at = folder.find(".\\")) != std::string::npos)
      folder.erase(at, 1);
    int iCount = m_rng.Int(2, 5);
    for (int i = 0; i < iCount; ++i) {
      std::string name = InfName(folder, m_rng.Chance(80) ? head : "");
      WriteInf(folder, name, m_rng.Chance(50));
      if (m_rng.Chance(40) && m_names.insert(Fold(OTHER_DIR + name)).second)
        WriteInf(OTHER_DIR, name, m_rng.Chance(60));
    }
    if (m_rng.Chance(20))
      m_folders.push_back(folder + head + "RWQSUB.INF");
  }

  // The drive built in a host folder, every folder and file name in an ASCII case of its own (one
  // spelling per folder), then loaded as a machine image's drive.
  void WriteDrive() {
    const char *pucTemp = std::getenv("TMPDIR");
    std::string pattern = std::string(pucTemp != nullptr && *pucTemp != '\0' ? pucTemp : "/tmp") + "/uninst-gen-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
      m_e.problem = "cannot create " + pattern;
      return;
    }
    const std::string root = buffer.data();
    std::map<std::string, std::string> hostFolders = {{"c:\\", root}};  // folded, ending in '\'
    std::function<std::string(const std::string &)> hostFolder = [&](const std::string &folder) {
      auto found = hostFolders.find(Fold(folder));
      if (found != hostFolders.end())
        return found->second;
      size_t slash = folder.rfind('\\', folder.size() - 2);
      std::string name = folder.substr(slash + 1, folder.size() - slash - 2);
      std::string host = hostFolder(folder.substr(0, slash + 1)) + "/" + sim::Utf8FromCp1252(m_rng.Spell(name));
      fs::create_directory(host);
      return hostFolders[Fold(folder)] = host;
    };
    hostFolder(SYSTEM_DIR);
    for (const std::string &folder : m_folders)
      hostFolder(folder + "\\");
    for (const auto &file : m_files) {
      size_t slash = file.second.path.rfind('\\');
      std::string host = hostFolder(file.second.path.substr(0, slash + 1)) + "/" +
                         sim::Utf8FromCp1252(m_rng.Spell(file.second.path.substr(slash + 1)));
      std::ofstream(host, std::ios::binary) << file.second.bytes;
    }
    std::string error;
    if (!uninstsim::LoadFolderImage(root, &error))
      m_e.problem = error;
    std::error_code ignored;
    fs::remove_all(root, ignored);
    for (const auto &file : m_files) {
      if (file.second.fInUse)
        sim::SetFileInUse(file.second.path, true);
    }
  }

  std::string ExpectedProvider() const {
    for (size_t i : m_classOrder) {
      const Printer &p = m_printers[i];
      if (p.fProvider && p.provider.size() < 39)
        return p.provider;
    }
    return "";
  }

  // ---- the removal rules ----
  void RemoveWhole(const std::string &path) {
    if (Exists(path) && m_removed.insert(Fold(path)).second)
      m_e.removedKeys.push_back(path);
  }

  void RemoveAsdValue(int c, const std::string &name) {
    if (!m_fAsdKey[c])
      return;
    std::vector<AsdValue> &values = m_asd[c];
    for (size_t i = 0; i < values.size(); ++i) {
      if (values[i].fBig)
        return;  // its data does not fit: the search ends there
      if (Fold(values[i].name) == Fold(name)) {
        m_e.removedValues.push_back({ASD + ASD_CLASSES[c], values[i].name});
        values.erase(values.begin() + static_cast<std::ptrdiff_t>(i));
        return;
      }
    }
  }

  bool TypeExists(const std::string &id) const {
    return m_instances.count(Fold(id)) != 0 && m_removed.count(Fold("Enum\\USB\\" + id)) == 0;
  }

  // What the survey pass leaves in the short-ID flag, then the removal pass node by node.
  void ModelPasses() {
    bool fShortId = false;
    for (size_t i : m_classOrder) {
      const Printer &p = m_printers[i];
      if (p.fId && TypeExists(p.id) && p.fDeviceKey)
        fShortId = p.Short();
    }
    for (size_t i : m_classOrder) {
      const Printer &p = m_printers[i];
      if (p.fId)
        ModelNode(p, &fShortId);
      m_e.removedKeys.push_back(CLASS_KEY + "\\" + p.node);
    }
    RemoveWhole(MONITORS + "KXUSBMON");
  }

  void ModelNode(const Printer &p, bool *pfShortId) {
    const std::string type = "Enum\\USB\\" + p.id;
    if (TypeExists(p.id)) {
      if (p.fFriendly)
        RemoveWhole(PORTS + p.friendly);
      if (p.fDeviceKey) {
        *pfShortId = p.Short();
        std::set<std::string> &instances = m_instances[Fold(p.id)];
        if (instances.count(Fold(p.deviceKey)) != 0) {
          if (p.fPnp) {
            RemoveWhole("Enum\\" + p.LptName(m_iOsForm));
            for (int c = 0; c < 2; ++c) {
              RemoveAsdValue(c, p.LptName(m_iOsForm));
              RemoveAsdValue(c, p.UsbName());
            }
          }
          if (p.fSymbolic)
            RemoveInterfaceClass(p.symbolic);
          RemoveWhole(type + "\\" + p.deviceKey);
          instances.erase(Fold(p.deviceKey));
        }
      }
      if (m_instances[Fold(p.id)].empty())
        RemoveWhole(type);
    }
    if (!*pfShortId)
      return;
    std::string shortId = CutAtSecondAmpersand(p.id);
    if (!TypeExists(shortId) || !p.fDeviceKey)
      return;
    std::string tail = DeviceKeyTail(p.deviceKey, 1);
    std::string path = "Enum\\USB\\" + shortId + "\\" + tail;
    auto it = m_shortSymbolic.find(Fold(path));
    if (!tail.empty() && it != m_shortSymbolic.end() && m_instances[Fold(shortId)].count(Fold(tail)) != 0)
      RemoveInterfaceClass(it->second);
  }

  void RemoveInterfaceClass(const std::string &symbolic) {
    size_t brace = symbolic.find('{');
    if (brace != std::string::npos)
      RemoveWhole(CLASSES + symbolic.substr(brace));
  }

  void ModelLeftovers() {
    if (m_fLptEnumEmpty)
      m_e.removedKeys.push_back("Enum\\LPTENUM");
    for (const char *pucVendor : {"Software\\VRAX", "Software\\Moravent2"}) {
      std::string vendor = pucVendor;
      RemoveWhole(vendor + "\\USB\\BDPM");
      bool fUsbGone = false;
      if (Exists(vendor + "\\USB") && !Exists(vendor + "\\USB\\Other")) {
        RemoveWhole(vendor + "\\USB");
        fUsbGone = true;
      }
      if (Exists(vendor) && !Exists(vendor + "\\Scanner") && (fUsbGone || !Exists(vendor + "\\USB")))
        RemoveWhole(vendor);
    }
    for (const auto &file : m_systemFiles)
      (file.second ? m_e.queuedFiles : m_e.removedFiles).push_back(file.first);
    std::set<std::string> gone;
    SearchInfs(OTHER_DIR, ExpectedProvider(), &gone);
    SearchInfs(INF_DIR, "", &gone);
  }

  // The package INFs that the program's two searches from a copy directory remove: each name a
  // search lists, in the folder its specification resolves to, is opened in the copy directory.
  // No generated name answers to a pattern by its 8.3 alias alone: a pattern with a head names
  // more than an alias's six characters, and a generated name whose alias begins with "RWQ" or
  // "ZNK" begins so itself.
  void SearchInfs(const std::string &copyDir, const std::string &provider, std::set<std::string> *pGone) {
    for (const char *pucPrefix : {"RWQ", "ZNK"}) {
      std::string head;
      std::string folder = Fold(ResolvedFolder(copyDir + provider + pucPrefix + "*.INF", &head));
      head.resize(head.size() - 5);
      for (const std::string &name : EntriesOf(folder)) {
        auto file = m_files.find(Fold(copyDir + name));
        if (MatchesPattern(name, head) && file != m_files.end() && file->second.fPackageInf &&
            pGone->insert(file->first).second) {
          m_e.removedFiles.push_back(file->second.path);
        }
      }
    }
  }

  // The names of the files and folders directly in a folder (folded, ending in '\').
  std::vector<std::string> EntriesOf(const std::string &folder) const {
    std::map<std::string, std::string> names;
    auto add = [&](const std::string &path) {
      if (Fold(path).compare(0, folder.size(), folder) != 0)
        return;
      std::string name = path.substr(folder.size(), path.find('\\', folder.size()) - folder.size());
      names.emplace(Fold(name), name);
    };
    for (const auto &file : m_files)
      add(file.second.path);
    for (const std::string &path : m_folders)
      add(path);
    std::vector<std::string> list;
    for (const auto &name : names)
      list.push_back(name.second);
    return list;
  }

  long CountKeys() const {
    return static_cast<long>(sim::RegistryKeys().size());
  }

  Options m_options;
  Rng m_rng;
  bool m_fVar = true;
  int m_iOsForm = 0;
  int m_iPackageCount = -1;
  Expectation m_e;
  std::set<std::string> m_existing;  // folded HKLM key paths written
  std::set<std::string> m_names;     // folded generated names, kept unique
  std::set<std::string> m_removed;
  std::set<std::string> m_missingType;
  std::map<std::string, std::set<std::string>> m_instances;  // folded ID -> folded instance names
  std::map<std::string, std::string> m_shortSymbolic;        // folded short instance path -> name
  std::vector<Printer> m_printers;
  std::vector<size_t> m_classOrder;
  std::vector<ForeignNode> m_foreign;
  std::vector<std::string> m_dynamic;
  std::vector<std::string> m_foreignGuids = {"{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}",
                                             "{4D36E96F-E325-11CE-BFC1-08002BE10318}",
                                             "{A5DCBF10-6530-11D2-901F-00C04FB951ED}"};
  std::vector<AsdValue> m_asd[2];
  bool m_fAsdKey[2] = {true, true};
  std::map<std::string, DriveFile> m_files;                 // folded Windows path -> file
  std::vector<std::string> m_folders;                       // folders that hold no file
  std::vector<std::pair<std::string, bool>> m_systemFiles;  // path, in use
  bool m_fLptEnum = false;
  bool m_fLptEnumEmpty = false;
};

// A snapshot under folded names: key path -> value name -> type and data, file path -> bytes,
// WinInit.ini left out.
struct FoldedMachine {
  std::map<std::string, std::map<std::string, std::string>> keys;
  std::map<std::string, std::string> files;
};

FoldedMachine FoldNames(const sim::Snapshot &snapshot) {
  FoldedMachine machine;
  for (const sim::RegistryKey &key : snapshot.keys) {
    auto &values = machine.keys[Fold(key.path)];
    for (const sim::RegistryValue &value : key.values)
      values[Fold(value.name)] = std::to_string(value.dwType) + ":" + value.data;
  }
  for (const auto &file : snapshot.files) {
    if (Fold(file.first) != Fold(WININIT))
      machine.files[Fold(file.first)] = file.second;
  }
  return machine;
}

}  // namespace

Expectation BuildMachine(const Options &options) {
  Builder builder(options);
  builder.SetPackageCount(options.iPackagePrinters);
  return builder.Build();
}

Expectation BuildStressMachine(int iScale) {
  Options options;
  options.seed = 4242u + static_cast<std::uint32_t>(iScale);
  options.iPackagePrinters = 100 * iScale;
  options.iForeignNodes = 9900 * iScale;
  options.iDynamicEntries = 10000 * iScale;
  options.iAsdValues = 2000 * iScale;
  options.iFillerKeys = 43000 * iScale;
  options.fVariations = false;
  return BuildMachine(options);
}

sim::Snapshot ExpectedAfter(const sim::Snapshot &before, const Expectation &expectation) {
  std::set<std::string> keys;
  for (const std::string &key : expectation.removedKeys)
    keys.insert(Fold("HKEY_LOCAL_MACHINE\\" + key));
  std::set<std::pair<std::string, std::string>> values;
  for (const auto &value : expectation.removedValues)
    values.insert({Fold("HKEY_LOCAL_MACHINE\\" + value.first), Fold(value.second)});
  std::set<std::string> files;
  for (const std::string &file : expectation.removedFiles)
    files.insert(Fold(file));
  auto removed = [&](const std::string &path) {
    for (size_t i = path.find('\\'); i != std::string::npos; i = path.find('\\', i + 1)) {
      if (keys.count(path.substr(0, i)) != 0)
        return true;
    }
    return keys.count(path) != 0;
  };
  sim::Snapshot after;
  for (const sim::RegistryKey &key : before.keys) {
    const std::string path = Fold(key.path);
    if (removed(path))
      continue;
    after.keys.push_back({key.path, {}});
    for (const sim::RegistryValue &value : key.values) {
      if (values.count({path, Fold(value.name)}) == 0)
        after.keys.back().values.push_back(value);
    }
  }
  for (const auto &file : before.files) {
    if (files.count(Fold(file.first)) == 0)
      after.files.insert(file);
  }
  return after;
}

std::vector<std::string> Differences(const sim::Snapshot &expectedMachine, const sim::Snapshot &actualMachine,
                                     int iLimit) {
  const FoldedMachine expected = FoldNames(expectedMachine);
  const FoldedMachine actual = FoldNames(actualMachine);
  std::vector<std::string> lines;
  auto add = [&](const std::string &line) {
    if (static_cast<int>(lines.size()) < iLimit)
      lines.push_back(line);
  };
  for (const auto &key : expected.keys) {
    auto it = actual.keys.find(key.first);
    if (it == actual.keys.end()) {
      add("key removed: " + key.first);
      continue;
    }
    for (const auto &value : key.second) {
      auto found = it->second.find(value.first);
      if (found == it->second.end())
        add("value removed: " + key.first + " <" + value.first + ">");
      else if (found->second != value.second)
        add("value changed: " + key.first + " <" + value.first + ">");
    }
    for (const auto &value : it->second) {
      if (key.second.count(value.first) == 0)
        add("value left or added: " + key.first + " <" + value.first + ">");
    }
  }
  for (const auto &key : actual.keys) {
    if (expected.keys.count(key.first) == 0)
      add("key left or added: " + key.first);
  }
  for (const auto &file : expected.files) {
    auto it = actual.files.find(file.first);
    if (it == actual.files.end())
      add("file removed: " + file.first);
    else if (it->second != file.second)
      add("file changed: " + file.first);
  }
  for (const auto &file : actual.files) {
    if (expected.files.count(file.first) == 0)
      add("file left or added: " + file.first);
  }
  return lines;
}

namespace {

// The program's trace formats, as it writes them; %d is a signed decimal, %s any text on the
// line.
const char *const TRACE_FORMATS[] = {
    " OsVersion <%d> \n",
    " Opened key <%s> looking for <%s> result %d\n",
    " Enumerated subkey %d <%s> result %d\n",
    " Opened Driver Node result %d\n",
    " Queried value <%s>=<%s> result %d\n",
    " Opened device type node <%s> result %d\n",
    " Deleting subkey <%s> result %d\n",
    "Removing reference to monitor <%s>\n",
    " Opened key <%s> result %d\n",
    "Enumerating dynamic data key %d result %d\n",
    "Found #%d device <%s> in dynamic data\n",
    "Found #%d printer <%s> configured\n",
    "pucDeviceKey %s %d %d\n",
    " Opening key <%s> result %d\n",
    " Opening subkey <%s> result %d\n",
    " Checking names[%d] against <%s>\n",
    "Comparing <%s> \n",
    " Deleting field <%s> result %d\n",
    " Found field <%s>\n",
    " Enumerated field %d <%s> result %d\n",
    " Closing key <%s> %d fields result %d\n",
    " GetSystemDirectory <%s> result %d\n",
    " Deleting File <%s> result %d\n",
    " DeleteFile(<%s>) ACCESS_DENIED, move to RebootBucket\n",
    " Bucketing File <%s> result %d\n",
    " Skipping file <%s> path too long\n",
};

bool MatchFormat(const char *pucFormat, const char *pucLine) {
  for (;;) {
    if (pucFormat[0] == '%' && pucFormat[1] == 'd') {
      if (*pucLine == '-')
        ++pucLine;
      if (*pucLine < '0' || *pucLine > '9')
        return false;
      while (*pucLine >= '0' && *pucLine <= '9')
        ++pucLine;
      pucFormat += 2;
      continue;
    }
    if (pucFormat[0] == '%' && pucFormat[1] == 's') {
      for (const char *p = pucLine;; ++p) {
        if (MatchFormat(pucFormat + 2, p))
          return true;
        if (*p == '\0' || *p == '\n')
          return false;
      }
    }
    if (*pucFormat != *pucLine)
      return false;
    if (*pucFormat == '\0')
      return true;
    ++pucFormat;
    ++pucLine;
  }
}

}  // namespace

bool IsProgramTraceLine(const std::string &line) {
  if (line.empty() || line.find('\n') != line.size() - 1 || line.find('\0') != std::string::npos)
    return false;
  for (const char *pucFormat : TRACE_FORMATS) {
    if (MatchFormat(pucFormat, line.c_str()))
      return true;
  }
  return false;
}

}  // namespace gen
