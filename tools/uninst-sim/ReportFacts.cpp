// What a run's record tells a reader at a glance: how it ended, which printers it found, what each
// removed key is and why each INF file removed was the package's. Read from the trace in the
// program's own formats (uninstall/, device/, registry/) and from its string table.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "inf/InfOwnership.h"
#include "resources/strings.h"
#include "tools/uninst-sim/UninstSim.h"

namespace uninstsim {

namespace {

const std::string MACHINE_ROOT = "HKEY_LOCAL_MACHINE\\";
const std::string CLASS_KEY_LINE = " Opened key <System\\CurrentControlSet\\Services\\Class\\USB> looking for <";
const std::string WALK_START = " Enumerated subkey 0 <";
const size_t ENTRY_LIMIT = 160;  // of an INF line shown: the file is the customer's

bool StartsWith(const std::string &text, const std::string &prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// The text between the prefix (which ends with '<') and the last "> result " or the suffix given.
bool Quoted(const std::string &line, const std::string &prefix, std::string *pInside,
            const std::string &suffix = "> result ") {
  if (!StartsWith(line, prefix))
    return false;
  size_t end = line.rfind(suffix);
  if (end == std::string::npos || end < prefix.size())
    return false;
  *pInside = line.substr(prefix.size(), end - prefix.size());
  return true;
}

long TraceResult(const std::string &line) {
  size_t at = line.rfind(" result ");
  return at == std::string::npos ? -1 : std::strtol(line.c_str() + at + 8, nullptr, 10);
}

enum class BoxKind { Other, Confirmation, Connected, Configured, Restart };

BoxKind KindOf(const sim::MessageBoxRecord &box) {
  if (box.text == STR_CONFIRM_TEXT)
    return BoxKind::Confirmation;
  if (box.text == STR_CONNECTED_TEXT)
    return BoxKind::Connected;
  if (box.text == STR_CONFIGURED_TEXT)
    return BoxKind::Configured;
  return box.text == STR_RESTART_TEXT ? BoxKind::Restart : BoxKind::Other;
}

// The survey pass: from the class walk's first subkey to the removal pass's, which starts again at 0.
std::vector<std::string> SurveyLines(const std::vector<std::string> &trace) {
  auto first = std::find_if(trace.begin(), trace.end(), [](const std::string &l) { return StartsWith(l, WALK_START); });
  if (first == trace.end())
    return {};
  auto second = std::find_if(first + 1, trace.end(), [](const std::string &l) { return StartsWith(l, WALK_START); });
  return std::vector<std::string>(first, second);
}

void TakePrinterLine(const std::string &line, std::string *pDevice, std::vector<PrinterFound> *pPrinters) {
  std::string inside;
  if (Quoted(line, " Opened key <", &inside) && StartsWith(inside, "USB\\")) {
    *pDevice = inside;
  } else if (Quoted(line, " Queried value <idPrinterPNP>=<", &inside) && TraceResult(line) == 0) {
    pPrinters->push_back(PrinterFound{inside, *pDevice, "", false, false});
  } else if (pPrinters->empty()) {
    return;
  } else if (Quoted(line, " Opened key <", &inside) && StartsWith(inside, "Enum\\LPTENUM\\")) {
    pPrinters->back().printerKey = MACHINE_ROOT + inside;
  } else if (StartsWith(line, "Found #") && line.find("> in dynamic data") != std::string::npos) {
    pPrinters->back().fConnected = true;
  } else if (StartsWith(line, "Found #") && line.find("> configured") != std::string::npos) {
    pPrinters->back().fConfigured = true;
  }
}

// One line of the program's INF text from pos, as far as its line end, bounded.
std::string InfLine(const std::string &text, size_t pos, const std::string &section) {
  size_t lineNumber = 1 + static_cast<size_t>(std::count(text.begin(), text.begin() + pos, '\n'));
  size_t end = std::min(text.find_first_of("\r\n", pos), pos + ENTRY_LIMIT);
  return section + " line " + std::to_string(lineNumber) + ": " + text.substr(pos, end - pos);
}

// A ';' hides the rest of its line, up to just past the next CR, as the program's scanner has it.
size_t SkipComment(const std::string &text, size_t i) {
  if (i >= text.size() || text[i] != ';')
    return i;
  i = text.find('\r', i);
  return i == std::string::npos ? text.size() : i + 1;
}

// The first pattern in [from, end) outside comments; npos when none.
size_t FindOutsideComments(const std::string &text, size_t from, size_t end, const std::string &pattern) {
  for (size_t i = from; i < end; ++i) {
    i = SkipComment(text, i);
    if (i >= end)
      break;
    if (text.compare(i, pattern.size(), pattern) == 0)
      return i;
  }
  return std::string::npos;
}

// The section's body: from after its header to the next '[' outside comments.
bool SectionBody(const std::string &text, const std::string &header, size_t *pStart, size_t *pEnd) {
  size_t at = FindOutsideComments(text, 0, text.size(), header);
  if (at == std::string::npos)
    return false;
  *pStart = at + header.size();
  *pEnd = std::min(FindOutsideComments(text, *pStart, text.size(), "["), text.size());
  return true;
}

// The [Strings] line that gives the provider key its value.
void AddProviderKeyLine(const std::string &text, const std::string &key, std::vector<std::string> *pEntries) {
  size_t start = 0;
  size_t end = 0;
  if (key.empty() || !SectionBody(text, "[Strings]", &start, &end))
    return;
  size_t at = FindOutsideComments(text, start, end, key);
  if (at != std::string::npos)
    pEntries->push_back(
        InfLine(text, text.rfind('\n', at) == std::string::npos ? 0 : text.rfind('\n', at) + 1, "[Strings]"));
}

// The key a trace line names as read or removed, with the root's name; next is the line after it
// (a key removal names the parent first, then on the next line the subkey it opens or deletes).
std::string KeyOfTraceLine(const std::string &line, const std::string &next) {
  std::string inside;
  std::string subkey;
  if (StartsWith(line, CLASS_KEY_LINE))
    return MACHINE_ROOT + "System\\CurrentControlSet\\Services\\Class\\USB";
  if (Quoted(line, " Opened device type node <", &inside))
    return MACHINE_ROOT + inside;
  if (Quoted(line, " Opened key <", &inside))
    return MACHINE_ROOT + (StartsWith(inside, "Enum\\") ? "" : "Enum\\") + inside;
  if (Quoted(line, " Closing key <", &inside, "> "))
    return MACHINE_ROOT + inside;
  if (Quoted(line, " Opening key <", &inside) &&
      (Quoted(next, " Opening subkey <", &subkey) || Quoted(next, " Deleting subkey <", &subkey)))
    return MACHINE_ROOT + inside + "\\" + subkey;
  if (StartsWith(line, "Enumerating dynamic data key "))
    return "HKEY_DYN_DATA\\Config Manager\\Enum";
  return "";
}

}  // namespace

Outcome RunOutcome(const std::vector<sim::MessageBoxRecord> &dialogs, const std::vector<std::string> &trace) {
  if (dialogs.empty() || KindOf(dialogs[0]) != BoxKind::Confirmation)
    return Outcome::Unknown;
  if (dialogs[0].iAnswer == os::IDNO)
    return Outcome::CancelledAtConfirmation;
  auto classLine =
      std::find_if(trace.begin(), trace.end(), [](const std::string &l) { return StartsWith(l, CLASS_KEY_LINE); });
  if (classLine != trace.end() && TraceResult(*classLine) != 0)
    return Outcome::ClassKeyNotOpened;
  for (const sim::MessageBoxRecord &box : dialogs) {
    if (KindOf(box) == BoxKind::Connected)
      return Outcome::RefusedConnected;
    if (KindOf(box) == BoxKind::Configured && box.iAnswer == os::IDYES)
      return Outcome::CancelledAtConfiguredQuestion;
    if (KindOf(box) == BoxKind::Restart)
      return Outcome::Completed;
  }
  return Outcome::Unknown;
}

std::vector<PrinterFound> PrintersFound(const std::vector<std::string> &trace) {
  std::vector<PrinterFound> printers;
  std::string device;
  for (const std::string &line : SurveyLines(trace))
    TakePrinterLine(line, &device, &printers);
  return printers;
}

std::string KeyKind(const std::string &keyPath) {
  static const std::pair<const char *, const char *> KINDS[] = {
      {"system\\currentcontrolset\\services\\class\\usb\\", "driver node"},
      {"enum\\usb\\", "device"},
      {"enum\\lptenum\\", "printer"},
      {"system\\currentcontrolset\\control\\print\\ports\\", "printer port"},
      {"system\\currentcontrolset\\control\\deviceclasses\\", "interface class"},
      {"system\\currentcontrolset\\control\\print\\monitors\\", "monitor"},
  };
  std::string folded = sim::Fold(keyPath);
  if (!StartsWith(folded, sim::Fold(MACHINE_ROOT)))
    return "";
  folded.erase(0, MACHINE_ROOT.size());
  for (const auto &kind : KINDS) {
    if (StartsWith(folded, kind.first))
      return kind.second;
  }
  if (folded == "enum\\lptenum")
    return "printer enumerator";
  for (const char *vendor : {"software\\vrax", "software\\moravent2"}) {
    if (folded == vendor || StartsWith(folded, std::string(vendor) + "\\"))
      return "vendor key";
  }
  return "";
}

std::vector<std::string> InfEvidenceOf(const std::string &bytes) {
  // The program reads the file into a block one byte longer, zero-filled: its text ends at the first NUL.
  if (IsPackageInfText(bytes.c_str(), static_cast<unsigned long>(bytes.size())) != 1)
    return {};
  const std::string text = bytes.substr(0, std::strlen(bytes.c_str()));
  size_t start = 0;
  size_t end = 0;
  std::vector<std::string> entries;
  if (!SectionBody(text, "[Version]", &start, &end))
    return entries;
  size_t classAt = FindOutsideComments(text, start, end, "Class=");
  size_t providerAt = FindOutsideComments(text, start, end, "Provider=");
  if (classAt != std::string::npos)
    entries.push_back(InfLine(text, classAt, "[Version]"));
  if (providerAt == std::string::npos)
    return entries;
  entries.push_back(InfLine(text, providerAt, "[Version]"));
  size_t valueAt = providerAt + std::strlen("Provider=");
  if (valueAt < text.size() && text[valueAt] == '%') {
    size_t close = text.find('%', valueAt + 1);
    if (close != std::string::npos)
      AddProviderKeyLine(text, text.substr(valueAt + 1, close - valueAt - 1), &entries);
  }
  return entries;
}

std::vector<std::string> KeysTouched(const std::vector<std::string> &trace, const sim::Changes &changes) {
  std::vector<std::string> keys;
  for (size_t i = 0; i < trace.size(); ++i) {
    std::string key = KeyOfTraceLine(trace[i], i + 1 < trace.size() ? trace[i + 1] : "");
    if (!key.empty())
      keys.push_back(key);
  }
  for (const sim::RegistryKey &key : changes.removedKeys)
    keys.push_back(key.path);
  for (const sim::RemovedValue &value : changes.removedValues)
    keys.push_back(value.keyPath);
  return keys;
}

bool InOrUnderAny(const std::string &keyPath, const std::vector<std::string> &keys) {
  std::string folded = sim::Fold(keyPath);
  return std::any_of(keys.begin(), keys.end(), [&](const std::string &key) {
    std::string root = sim::Fold(key);
    return StartsWith(folded, root) && (folded.size() == root.size() || folded[root.size()] == '\\');
  });
}

std::string AnswerGloss(const sim::MessageBoxRecord &box) {
  const bool fYes = box.iAnswer == os::IDYES;
  const bool fNo = box.iAnswer == os::IDNO;
  switch (KindOf(box)) {
    case BoxKind::Confirmation:
      return fYes ? "Yes: remove the package" : fNo ? "No: cancel the removal" : "";
    case BoxKind::Connected:
      return box.iAnswer == os::IDOK ? "OK: acknowledged, the removal is refused" : "";
    case BoxKind::Configured:
      return fYes ? "Yes: cancel the removal" : fNo ? "No: go on with the removal" : "";
    case BoxKind::Restart:
      return fYes ? "Yes: restart Windows now" : fNo ? "No: restart Windows later" : "";
    default:
      return "";
  }
}

// Each outcome's name in report.json and its words in report.txt.
const struct {
  Outcome outcome;
  const char *pucName;
  const char *pucText;
} OUTCOMES[] = {
    {Outcome::Completed, "completed", "removal completed"},
    {Outcome::RefusedConnected, "refused-connected", "refused: a printer of the package is connected"},
    {Outcome::CancelledAtConfirmation, "cancelled-at-confirmation", "cancelled at the confirmation"},
    {Outcome::CancelledAtConfiguredQuestion, "cancelled-at-configured-question",
     "cancelled at the question about the configured printer"},
    {Outcome::ClassKeyNotOpened, "class-key-not-opened", "stopped: the USB class key did not open"},
};

std::string OutcomeName(Outcome outcome) {
  for (const auto &known : OUTCOMES) {
    if (known.outcome == outcome)
      return known.pucName;
  }
  return "unknown";
}

std::string OutcomeText(Outcome outcome) {
  for (const auto &known : OUTCOMES) {
    if (known.outcome == outcome)
      return known.pucText;
  }
  return "not told by the dialogs and the trace";
}

}  // namespace uninstsim
