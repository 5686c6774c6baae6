// What a run did, from the changes its calls recorded: the report and the undo image.
#include <algorithm>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "tools/formats/Printable.h"
#include "tools/uninst-sim/Load.h"
#include "tools/uninst-sim/UninstSim.h"

namespace uninstsim {

namespace {

bool IsUnder(const std::string &folded, const std::string &foldedAncestor) {
  return folded.size() > foldedAncestor.size() && folded[foldedAncestor.size()] == '\\' &&
         folded.compare(0, foldedAncestor.size(), foldedAncestor) == 0;
}

// The removed subtrees in the order they went: a key removal takes its whole subtree with it,
// and one that takes a subtree removed before it takes that one in.
std::vector<std::vector<sim::RegistryKey>> RemovedSubtrees(const sim::Changes &changes) {
  std::vector<std::vector<sim::RegistryKey>> subtrees;
  for (const sim::RegistryKey &key : changes.removedKeys) {
    std::string folded = sim::Fold(key.path);
    if (!subtrees.empty() && IsUnder(folded, sim::Fold(subtrees.back().front().path))) {
      subtrees.back().push_back(key);
      continue;
    }
    std::vector<sim::RegistryKey> subtree{key};
    for (auto it = subtrees.begin(); it != subtrees.end();) {
      if (IsUnder(sim::Fold(it->front().path), folded)) {
        subtree.insert(subtree.end(), it->begin(), it->end());
        it = subtrees.erase(it);
      } else {
        ++it;
      }
    }
    subtrees.push_back(subtree);
  }
  return subtrees;
}

bool InRemovedKey(const std::string &keyPath, const std::vector<std::vector<sim::RegistryKey>> &subtrees) {
  std::string folded = sim::Fold(keyPath);
  return std::any_of(subtrees.begin(), subtrees.end(), [&](const std::vector<sim::RegistryKey> &subtree) {
    std::string root = sim::Fold(subtree.front().path);
    return folded == root || IsUnder(folded, root);
  });
}

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  std::string line;
  while (std::getline(stream, line)) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// The lines of after that are not among before's (each old line used once).
std::vector<std::string> AddedLines(const std::string &before, const std::string &after) {
  std::multiset<std::string> old;
  for (const std::string &line : Lines(before))
    old.insert(line);
  std::vector<std::string> added;
  for (std::string line : Lines(after)) {
    line.erase(std::remove(line.begin(), line.end(), '\0'), line.end());
    auto found = old.find(line);
    if (found != old.end()) {
      old.erase(found);
    } else if (!line.empty()) {
      added.push_back(line);
    }
  }
  return added;
}

// "Found field <...>" after "Opening key <...>": the OEM Name values that were looked up and kept.
std::vector<ValueRef> ValuesLeft(const std::vector<std::string> &trace) {
  const std::string opening = " Opening key <";
  const std::string found = " Found field <";
  std::vector<ValueRef> left;
  std::string keyPath;
  for (const std::string &line : trace) {
    if (line.compare(0, opening.size(), opening) == 0) {
      keyPath = "HKEY_LOCAL_MACHINE\\" + line.substr(opening.size(), line.find('>') - opening.size());
    } else if (line.compare(0, found.size(), found) == 0) {
      left.push_back(ValueRef{keyPath, line.substr(found.size(), line.rfind('>') - found.size())});
    }
  }
  return left;
}

std::vector<QueuedFile> QueuedFiles(const std::vector<std::string> &winInitLines) {
  std::vector<QueuedFile> queued;
  for (const std::string &request : sim::MoveFileExRequests())
    queued.push_back(QueuedFile{request.substr(0, request.find("=>")), "MoveFileEx", request});
  for (const std::string &line : winInitLines) {
    if (line.compare(0, 4, "NUL=") == 0)
      queued.push_back(QueuedFile{line.substr(4), "WinInit.ini", line});
  }
  return queued;
}

std::string AnswerName(int iAnswer) {
  switch (iAnswer) {
    case os::IDYES:
      return "yes";
    case os::IDNO:
      return "no";
    case os::IDOK:
      return "ok";
    default:
      return "none";
  }
}

// Program text (code page 1252) as a JSON string.
nlohmann::ordered_json Text(const std::string &text) {
  return sim::Utf8FromCp1252(text, true);
}

nlohmann::ordered_json ValueJson(const ValueRef &ref) {
  return {{"key", Text(ref.keyPath)}, {"name", Text(ref.name)}};
}

template <typename T, typename F>
nlohmann::ordered_json JsonList(const std::vector<T> &items, F item) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const T &each : items)
    list.push_back(item(each));
  return list;
}

std::string ValueText(const ValueRef &value) {
  return value.keyPath + " : " + (value.name.empty() ? "@" : "\"" + value.name + "\"");
}

std::string Plural(size_t count, const std::string &one, const std::string &many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string InputText(const MachineInput &input) {
  std::string text = "Input: " + input.kind + " " + Printable(input.path);
  if (input.fDefaultSample)
    text += " (the bundled sample: no input option was given)";
  text += "\n  Registry: " + Printable(input.registryPath) + " (" + input.registryFrom + ")\n  Drive: ";
  if (input.driveFrom.empty())
    return text + "none: an empty Windows tree, so no file removal is previewed\n";
  return text + Printable(input.drivePath) + " (" + input.driveFrom + ")\n";
}

std::string PrinterText(const PrinterFound &printer) {
  return "  " + PrintableCp1252(printer.device) + " (" + PrintableCp1252(printer.model) +
         "): " + (printer.fConfigured ? "configured" : "not configured") + ", " +
         (printer.fConnected ? "connected" : "not connected") + "\n";
}

// What a support engineer asks first: what was run on, how it ended, what it found, what is pending.
std::string AnswerBlock(const Report &report) {
  std::string text = InputText(report.input) + "Outcome: " + OutcomeText(report.outcome) + "\n";
  text += "Printers of the package found (" + std::to_string(report.printers.size()) + ")\n";
  for (const PrinterFound &printer : report.printers)
    text += PrinterText(printer);
  text += "Reboot needed: ";
  text += report.fRebootNeeded
              ? "yes (" + Plural(report.filesQueued.size(), "file", "files") + " queued for the next boot)\n"
              : "no\n";
  if (!report.unusedAnswers.empty())
    text += "Answers left unused (" + std::to_string(report.unusedAnswers.size()) +
            "): " + AnswerList(report.unusedAnswers) + "\n";
  return text;
}

std::string DialogsText(const Report &report) {
  std::string text = "Dialogs (" + std::to_string(report.dialogs.size()) + ")\n";
  for (const sim::MessageBoxRecord &box : report.dialogs) {
    std::string gloss = AnswerGloss(box);
    text += "  [" + PrintableCp1252(box.caption) + "] " + PrintableCp1252(box.text) + " -> " + AnswerName(box.iAnswer) +
            (gloss.empty() ? "" : " (" + gloss + ")") + "\n";
  }
  return text;
}

std::string RegistryText(const Report &report) {
  int iKeys = 0;
  for (const RemovedSubtree &subtree : report.removedKeys)
    iKeys += subtree.iKeyCount;
  std::string text = "Registry keys removed (" + std::to_string(iKeys) + " keys in " +
                     std::to_string(report.removedKeys.size()) + " subtrees)\n";
  for (const RemovedSubtree &subtree : report.removedKeys)
    text += "  " + PrintableCp1252(subtree.path) + " (" +
            Plural(static_cast<size_t>(subtree.iKeyCount), "key", "keys") +
            (subtree.kind.empty() ? "" : ", " + subtree.kind) + ")\n";
  text += "Registry values removed (" + std::to_string(report.removedValues.size()) + ")\n";
  for (const ValueRef &value : report.removedValues)
    text += "  " + PrintableCp1252(ValueText(value)) + "\n";
  text += "Registry values found and left (" + std::to_string(report.valuesLeft.size()) + ")\n";
  for (const ValueRef &value : report.valuesLeft)
    text += "  " + PrintableCp1252(ValueText(value)) + "\n";
  return text;
}

// A deleted INF file is followed by the entries that made it the package's.
std::string DeletedFileText(const Report &report, const std::string &file) {
  std::string text = "  " + PrintableCp1252(file) + "\n";
  for (const InfEvidence &inf : report.infEvidence) {
    if (inf.file != file)
      continue;
    for (const std::string &entry : inf.entries)
      text += "    " + PrintableCp1252(entry) + "\n";
    break;
  }
  return text;
}

std::string FilesText(const Report &report) {
  std::string text = "Files deleted (" + std::to_string(report.filesDeleted.size()) + ")\n";
  for (const std::string &file : report.filesDeleted)
    text += DeletedFileText(report, file);
  text += "Files queued for deletion at the next boot (" + std::to_string(report.filesQueued.size()) + ")\n";
  for (const QueuedFile &file : report.filesQueued)
    text += "  " + PrintableCp1252(file.path) + " by " + file.how + "\n";
  text += "WinInit.ini lines added (" + std::to_string(report.winInitLinesAdded.size()) + ")\n";
  for (const std::string &line : report.winInitLinesAdded)
    text += "  " + PrintableCp1252(line) + "\n";
  return text;
}

std::string SkippedText(const Report &report) {
  if (report.skippedLines.empty())
    return "";
  std::string text = "Registry export lines skipped (" + std::to_string(report.skippedLines.size()) + ")\n";
  for (const SkippedLine &line : report.skippedLines) {
    text += "  " + SkippedLineText(line);
    if (line.fMayChangePreview)
      text += line.count > 1
                  ? " (not all listed: some may change the preview)"
                  : " (in " + PrintableCp1252(line.key) + ", which the run read or removed: may change the preview)";
    text += "\n";
  }
  return text;
}

std::string NotesText(const Report &report) {
  std::string text;
  for (const std::string &note : report.notes)
    text += "Note: " + PrintableCp1252(note) + "\n";
  return text + "Exit code: " + std::to_string(report.iExitCode) + "\n";
}

std::string ButtonsName(os::UINT uStyle) {
  static const char *const NAMES[] = {"OK", "OKCancel", "AbortRetryIgnore", "YesNoCancel", "YesNo", "RetryCancel"};
  os::UINT uButtons = uStyle & 0x0F;
  return uButtons < sizeof NAMES / sizeof NAMES[0] ? NAMES[uButtons] : "other";
}

nlohmann::ordered_json DialogJson(const sim::MessageBoxRecord &box) {
  return nlohmann::ordered_json{{"caption", Text(box.caption)},       {"text", Text(box.text)},
                                {"buttons", ButtonsName(box.uStyle)}, {"style", box.uStyle},
                                {"answer", AnswerName(box.iAnswer)},  {"meaning", AnswerGloss(box)}};
}

nlohmann::ordered_json InputJson(const MachineInput &input) {
  nlohmann::ordered_json drive = input.driveFrom.empty()
                                     ? nlohmann::ordered_json{{"from", "none"}, {"path", nullptr}}
                                     : nlohmann::ordered_json{{"from", input.driveFrom}, {"path", input.drivePath}};
  return nlohmann::ordered_json{{"kind", input.kind},
                                {"path", input.path},
                                {"defaultSample", input.fDefaultSample},
                                {"registry", {{"from", input.registryFrom}, {"path", input.registryPath}}},
                                {"drive", drive}};
}

nlohmann::ordered_json PrinterJson(const PrinterFound &printer) {
  return nlohmann::ordered_json{{"device", Text(printer.device)},
                                {"model", Text(printer.model)},
                                {"printerKey", Text(printer.printerKey)},
                                {"connected", printer.fConnected},
                                {"configured", printer.fConfigured}};
}

// The deleted files that the program took for the package's INF files, with why.
std::vector<InfEvidence> InfEvidenceList(const sim::Changes &changes) {
  std::vector<InfEvidence> list;
  for (size_t i = 0; i < changes.deletedFiles.size() && i < changes.deletedBytes.size(); ++i) {
    std::vector<std::string> entries = InfEvidenceOf(changes.deletedBytes[i]);
    if (!entries.empty())
      list.push_back(InfEvidence{changes.deletedFiles[i], entries});
  }
  return list;
}

}  // namespace

Report BuildReport(const sim::Changes &changes, int iExitCode) {
  Report report;
  report.dialogs = sim::MessageBoxes();
  report.outcome = RunOutcome(report.dialogs, sim::Trace());
  report.printers = PrintersFound(sim::Trace());
  std::vector<std::vector<sim::RegistryKey>> subtrees = RemovedSubtrees(changes);
  for (const std::vector<sim::RegistryKey> &subtree : subtrees) {
    const std::string &path = subtree.front().path;
    report.removedKeys.push_back(RemovedSubtree{path, static_cast<int>(subtree.size()), KeyKind(path)});
  }
  for (const sim::RemovedValue &removed : changes.removedValues) {
    if (!InRemovedKey(removed.keyPath, subtrees))
      report.removedValues.push_back(ValueRef{removed.keyPath, removed.value.name});
  }
  report.valuesLeft = ValuesLeft(sim::Trace());
  report.filesDeleted = changes.deletedFiles;
  std::string winInit = sim::Fold(sim::NormalPath(sim::WindowsDirectory() + "\\WININIT.INI"));
  for (const sim::WrittenFile &file : changes.writtenFiles) {
    if (sim::Fold(sim::NormalPath(file.path)) == winInit)
      report.winInitLinesAdded = AddedLines(file.before, file.after);
  }
  report.filesQueued = QueuedFiles(report.winInitLinesAdded);
  report.fRebootNeeded = !report.filesQueued.empty();
  report.infEvidence = InfEvidenceList(changes);
  report.restarts = sim::Restarts();
  report.iExitCode = iExitCode;
  return report;
}

std::string AnswerList(const std::vector<int> &answers) {
  std::string list;
  for (int iAnswer : answers)
    list += (list.empty() ? "" : ",") + AnswerName(iAnswer);
  return list;
}

std::string SkippedLineText(const SkippedLine &line) {
  return Printable(line.file) + ": line " + std::to_string(line.line) + ": " + PrintableCp1252(line.why);
}

// Every text of the program's or of the machine's is shown printable: the report is read on a
// terminal, and a key or file name may hold control bytes.
std::string ReportText(const Report &report) {
  return AnswerBlock(report) + DialogsText(report) + RegistryText(report) + FilesText(report) +
         "Restart requested: " + (report.restarts.empty() ? "no" : "yes") + "\n" + SkippedText(report) +
         NotesText(report);
}

std::string ReportJson(const Report &report) {
  nlohmann::ordered_json json;
  json["input"] = InputJson(report.input);
  json["outcome"] = OutcomeName(report.outcome);
  json["printers"] = JsonList(report.printers, PrinterJson);
  json["rebootNeeded"] = report.fRebootNeeded;
  json["answersUnused"] = JsonList(report.unusedAnswers, AnswerName);
  json["dialogs"] = JsonList(report.dialogs, DialogJson);
  json["registryKeysRemoved"] = JsonList(report.removedKeys, [](const RemovedSubtree &subtree) {
    return nlohmann::ordered_json{{"key", Text(subtree.path)}, {"keyCount", subtree.iKeyCount}, {"kind", subtree.kind}};
  });
  json["registryValuesRemoved"] = JsonList(report.removedValues, ValueJson);
  json["registryValuesLeft"] = JsonList(report.valuesLeft, ValueJson);
  json["filesDeleted"] = JsonList(report.filesDeleted, Text);
  json["infFilesRemoved"] = JsonList(report.infEvidence, [](const InfEvidence &inf) {
    return nlohmann::ordered_json{{"file", Text(inf.file)}, {"evidence", JsonList(inf.entries, Text)}};
  });
  json["filesQueued"] = JsonList(report.filesQueued, [](const QueuedFile &file) {
    return nlohmann::ordered_json{{"file", Text(file.path)}, {"how", file.how}, {"entry", Text(file.line)}};
  });
  json["winInitLinesAdded"] = JsonList(report.winInitLinesAdded, Text);
  json["restartRequested"] = !report.restarts.empty();
  json["skippedLines"] = JsonList(report.skippedLines, [](const SkippedLine &line) {
    return nlohmann::ordered_json{{"file", line.file},
                                  {"line", line.line},
                                  {"why", Text(line.why)},
                                  {"key", Text(line.key)},
                                  {"mayChangePreview", line.fMayChangePreview}};
  });
  json["notes"] = JsonList(report.notes, Text);
  json["exitCode"] = report.iExitCode;
  // A host file name need not be UTF-8: such bytes become U+FFFD rather than failing the dump.
  return json.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::string UndoImage(const sim::Changes &changes) {
  std::vector<sim::RegistryKey> keys;
  for (const std::vector<sim::RegistryKey> &subtree : RemovedSubtrees(changes))
    keys.insert(keys.end(), subtree.begin(), subtree.end());
  for (const sim::RemovedValue &removed : changes.removedValues)
    keys.push_back(sim::RegistryKey{removed.keyPath, {removed.value}});
  return uninstsim::RegeditImage(keys);
}

}  // namespace uninstsim
