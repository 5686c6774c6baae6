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

}  // namespace

Report BuildReport(const sim::Changes &changes, int iExitCode) {
  Report report;
  report.dialogs = sim::MessageBoxes();
  std::vector<std::vector<sim::RegistryKey>> subtrees = RemovedSubtrees(changes);
  for (const std::vector<sim::RegistryKey> &subtree : subtrees)
    report.removedKeys.push_back(RemovedSubtree{subtree.front().path, static_cast<int>(subtree.size())});
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
  report.restarts = sim::Restarts();
  report.iExitCode = iExitCode;
  return report;
}

std::string SkippedLineText(const SkippedLine &line) {
  return Printable(line.file) + ": line " + std::to_string(line.line) + ": " + PrintableCp1252(line.why);
}

// Every text of the program's or of the machine's is shown printable: the report is read on a
// terminal, and a key or file name may hold control bytes.
std::string ReportText(const Report &report) {
  std::ostringstream out;
  out << "Dialogs (" << report.dialogs.size() << ")\n";
  for (const sim::MessageBoxRecord &box : report.dialogs)
    out << "  [" << PrintableCp1252(box.caption) << "] " << PrintableCp1252(box.text) << " -> "
        << AnswerName(box.iAnswer) << "\n";
  int iKeys = 0;
  for (const RemovedSubtree &subtree : report.removedKeys)
    iKeys += subtree.iKeyCount;
  out << "Registry keys removed (" << iKeys << " keys in " << report.removedKeys.size() << " subtrees)\n";
  for (const RemovedSubtree &subtree : report.removedKeys)
    out << "  " << PrintableCp1252(subtree.path) << " (" << subtree.iKeyCount
        << (subtree.iKeyCount == 1 ? " key)\n" : " keys)\n");
  out << "Registry values removed (" << report.removedValues.size() << ")\n";
  for (const ValueRef &value : report.removedValues)
    out << "  " << PrintableCp1252(ValueText(value)) << "\n";
  out << "Registry values found and left (" << report.valuesLeft.size() << ")\n";
  for (const ValueRef &value : report.valuesLeft)
    out << "  " << PrintableCp1252(ValueText(value)) << "\n";
  out << "Files deleted (" << report.filesDeleted.size() << ")\n";
  for (const std::string &file : report.filesDeleted)
    out << "  " << PrintableCp1252(file) << "\n";
  out << "Files queued for deletion at the next boot (" << report.filesQueued.size() << ")\n";
  for (const QueuedFile &file : report.filesQueued)
    out << "  " << PrintableCp1252(file.path) << " by " << file.how << "\n";
  out << "WinInit.ini lines added (" << report.winInitLinesAdded.size() << ")\n";
  for (const std::string &line : report.winInitLinesAdded)
    out << "  " << PrintableCp1252(line) << "\n";
  out << "Restart requested: " << (report.restarts.empty() ? "no" : "yes") << "\n";
  std::string skipped;
  if (!report.skippedLines.empty())
    skipped = "Registry export lines skipped (" + std::to_string(report.skippedLines.size()) + ")\n";
  for (const SkippedLine &line : report.skippedLines)
    skipped += "  " + SkippedLineText(line) + "\n";
  std::ostringstream tail;
  for (const std::string &note : report.notes)
    tail << "Note: " << PrintableCp1252(note) << "\n";
  tail << "Exit code: " << report.iExitCode << "\n";
  return out.str() + skipped + tail.str();
}

std::string ReportJson(const Report &report) {
  nlohmann::ordered_json json;
  json["dialogs"] = JsonList(report.dialogs, [](const sim::MessageBoxRecord &box) {
    return nlohmann::ordered_json{{"caption", Text(box.caption)},
                                  {"text", Text(box.text)},
                                  {"style", box.uStyle},
                                  {"answer", AnswerName(box.iAnswer)}};
  });
  json["registryKeysRemoved"] = JsonList(report.removedKeys, [](const RemovedSubtree &subtree) {
    return nlohmann::ordered_json{{"key", Text(subtree.path)}, {"keyCount", subtree.iKeyCount}};
  });
  json["registryValuesRemoved"] = JsonList(report.removedValues, ValueJson);
  json["registryValuesLeft"] = JsonList(report.valuesLeft, ValueJson);
  json["filesDeleted"] = JsonList(report.filesDeleted, Text);
  json["filesQueued"] = JsonList(report.filesQueued, [](const QueuedFile &file) {
    return nlohmann::ordered_json{{"file", Text(file.path)}, {"how", file.how}, {"entry", Text(file.line)}};
  });
  json["winInitLinesAdded"] = JsonList(report.winInitLinesAdded, Text);
  json["restartRequested"] = !report.restarts.empty();
  json["skippedLines"] = JsonList(report.skippedLines, [](const SkippedLine &line) {
    return nlohmann::ordered_json{{"file", line.file}, {"line", line.line}, {"why", Text(line.why)}};
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
