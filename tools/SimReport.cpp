// What a run did, from the machine before and after: the report and the undo image.
#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>

#include "tools/SimTool.h"

namespace simtool {

namespace {

const char WININIT_PATH[] = "C:\\WINDOWS\\WININIT.INI";

std::string Fold(std::string text) {
  for (char &c : text) {
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string ParentOf(const std::string &path) {
  size_t slash = path.rfind('\\');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

std::map<std::string, const sim::RegistryKey *> KeysByPath(const std::vector<sim::RegistryKey> &keys) {
  std::map<std::string, const sim::RegistryKey *> byPath;
  for (const sim::RegistryKey &key : keys)
    byPath[Fold(key.path)] = &key;
  return byPath;
}

bool HasValue(const sim::RegistryKey &key, const std::string &name) {
  return std::any_of(key.values.begin(), key.values.end(),
                     [&](const sim::RegistryValue &value) { return Fold(value.name) == Fold(name); });
}

// The keys of before that after lacks, in before's order.
std::vector<const sim::RegistryKey *> RemovedKeys(const Snapshot &before, const Snapshot &after) {
  std::map<std::string, const sim::RegistryKey *> kept = KeysByPath(after.keys);
  std::vector<const sim::RegistryKey *> removed;
  for (const sim::RegistryKey &key : before.keys) {
    if (kept.count(Fold(key.path)) == 0)
      removed.push_back(&key);
  }
  return removed;
}

std::vector<RemovedSubtree> RemovedSubtrees(const std::vector<const sim::RegistryKey *> &removed) {
  std::set<std::string> removedPaths;
  for (const sim::RegistryKey *pKey : removed)
    removedPaths.insert(Fold(pKey->path));
  std::vector<RemovedSubtree> subtrees;
  for (const sim::RegistryKey *pKey : removed) {
    std::string path = Fold(pKey->path);
    std::string parent = ParentOf(path);
    if (removedPaths.count(parent) != 0) {
      for (RemovedSubtree &subtree : subtrees) {
        if (path.compare(0, subtree.path.size() + 1, Fold(subtree.path) + "\\") == 0)
          ++subtree.iKeyCount;
      }
      continue;
    }
    subtrees.push_back(RemovedSubtree{pKey->path, 1});
  }
  return subtrees;
}

// Values gone from keys that are still there, as the keys that would re-create them.
std::vector<sim::RegistryKey> RemovedValueKeys(const Snapshot &before, const Snapshot &after) {
  std::map<std::string, const sim::RegistryKey *> kept = KeysByPath(after.keys);
  std::vector<sim::RegistryKey> keys;
  for (const sim::RegistryKey &key : before.keys) {
    auto found = kept.find(Fold(key.path));
    if (found == kept.end())
      continue;
    sim::RegistryKey gone{key.path, {}};
    for (const sim::RegistryValue &value : key.values) {
      if (!HasValue(*found->second, value.name))
        gone.values.push_back(value);
    }
    if (!gone.values.empty())
      keys.push_back(gone);
  }
  return keys;
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

std::string Json(const std::string &text) {
  std::string out = "\"";
  for (unsigned char c : Utf8FromCp1252(text)) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char ucEscape[8];
      std::snprintf(ucEscape, sizeof ucEscape, "\\u%04x", c);
      out += ucEscape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

template <typename T, typename F>
std::string JsonList(const std::vector<T> &items, F item) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i)
    out += (i ? ",\n    " : "\n    ") + item(items[i]);
  return out + (items.empty() ? "]" : "\n  ]");
}

std::string ValueText(const ValueRef &value) {
  return value.keyPath + " : " + (value.name.empty() ? "@" : "\"" + value.name + "\"");
}

}  // namespace

Snapshot TakeSnapshot() {
  Snapshot snapshot;
  snapshot.keys = sim::RegistryKeys();
  snapshot.files = sim::ListFiles();
  sim::ReadFile(WININIT_PATH, &snapshot.winInit);
  return snapshot;
}

Report BuildReport(const Snapshot &before, const Snapshot &after, int iExitCode) {
  Report report;
  report.dialogs = sim::MessageBoxes();
  report.removedKeys = RemovedSubtrees(RemovedKeys(before, after));
  for (const sim::RegistryKey &key : RemovedValueKeys(before, after)) {
    for (const sim::RegistryValue &value : key.values)
      report.removedValues.push_back(ValueRef{key.path, value.name});
  }
  report.valuesLeft = ValuesLeft(sim::Trace());
  std::set<std::string> filesAfter(after.files.begin(), after.files.end());
  for (const std::string &file : before.files) {
    if (filesAfter.count(file) == 0)
      report.filesDeleted.push_back(file);
  }
  report.winInitLinesAdded = AddedLines(before.winInit, after.winInit);
  report.filesQueued = QueuedFiles(report.winInitLinesAdded);
  report.restarts = sim::Restarts();
  report.iExitCode = iExitCode;
  return report;
}

std::string ReportText(const Report &report) {
  std::ostringstream out;
  out << "Dialogs (" << report.dialogs.size() << ")\n";
  for (const sim::MessageBoxRecord &box : report.dialogs)
    out << "  [" << box.caption << "] " << box.text << " -> " << AnswerName(box.iAnswer) << "\n";
  int iKeys = 0;
  for (const RemovedSubtree &subtree : report.removedKeys)
    iKeys += subtree.iKeyCount;
  out << "Registry keys removed (" << iKeys << " keys in " << report.removedKeys.size() << " subtrees)\n";
  for (const RemovedSubtree &subtree : report.removedKeys)
    out << "  " << subtree.path << " (" << subtree.iKeyCount << (subtree.iKeyCount == 1 ? " key)\n" : " keys)\n");
  out << "Registry values removed (" << report.removedValues.size() << ")\n";
  for (const ValueRef &value : report.removedValues)
    out << "  " << ValueText(value) << "\n";
  out << "Registry values found and left (" << report.valuesLeft.size() << ")\n";
  for (const ValueRef &value : report.valuesLeft)
    out << "  " << ValueText(value) << "\n";
  out << "Files deleted (" << report.filesDeleted.size() << ")\n";
  for (const std::string &file : report.filesDeleted)
    out << "  " << file << "\n";
  out << "Files queued for deletion at the next boot (" << report.filesQueued.size() << ")\n";
  for (const QueuedFile &file : report.filesQueued)
    out << "  " << file.path << " by " << file.how << "\n";
  out << "WinInit.ini lines added (" << report.winInitLinesAdded.size() << ")\n";
  for (const std::string &line : report.winInitLinesAdded)
    out << "  " << line << "\n";
  out << "Restart requested: " << (report.restarts.empty() ? "no" : "yes") << "\n";
  for (const std::string &note : report.notes)
    out << "Note: " << note << "\n";
  out << "Exit code: " << report.iExitCode << "\n";
  return Utf8FromCp1252(out.str());
}

std::string ReportJson(const Report &report) {
  std::ostringstream out;
  out << "{\n  \"dialogs\": " << JsonList(report.dialogs, [](const sim::MessageBoxRecord &box) {
    return "{\"caption\": " + Json(box.caption) + ", \"text\": " + Json(box.text) +
           ", \"style\": " + std::to_string(box.uStyle) + ", \"answer\": " + Json(AnswerName(box.iAnswer)) + "}";
  });
  out << ",\n  \"registryKeysRemoved\": " << JsonList(report.removedKeys, [](const RemovedSubtree &subtree) {
    return "{\"key\": " + Json(subtree.path) + ", \"keyCount\": " + std::to_string(subtree.iKeyCount) + "}";
  });
  auto value = [](const ValueRef &ref) {
    return "{\"key\": " + Json(ref.keyPath) + ", \"name\": " + Json(ref.name) + "}";
  };
  out << ",\n  \"registryValuesRemoved\": " << JsonList(report.removedValues, value);
  out << ",\n  \"registryValuesLeft\": " << JsonList(report.valuesLeft, value);
  auto text = [](const std::string &item) { return Json(item); };
  out << ",\n  \"filesDeleted\": " << JsonList(report.filesDeleted, text);
  out << ",\n  \"filesQueued\": " << JsonList(report.filesQueued, [](const QueuedFile &file) {
    return "{\"file\": " + Json(file.path) + ", \"how\": " + Json(file.how) + ", \"entry\": " + Json(file.line) + "}";
  });
  out << ",\n  \"winInitLinesAdded\": " << JsonList(report.winInitLinesAdded, text);
  out << ",\n  \"restartRequested\": " << (report.restarts.empty() ? "false" : "true");
  out << ",\n  \"notes\": " << JsonList(report.notes, text);
  out << ",\n  \"exitCode\": " << report.iExitCode << "\n}\n";
  return out.str();
}

std::string UndoImage(const Snapshot &before, const Snapshot &after) {
  std::vector<sim::RegistryKey> keys;
  for (const sim::RegistryKey *pKey : RemovedKeys(before, after))
    keys.push_back(*pKey);
  for (const sim::RegistryKey &key : RemovedValueKeys(before, after))
    keys.push_back(key);
  return sim::RegeditImage(keys);
}

std::string Utf8FromCp1252(const std::string &text) {
  // 0x80-0x9F of code page 1252; 0 where the code page leaves the byte undefined.
  static const unsigned short HIGH[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                          0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                          0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                          0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
  std::string utf8;
  for (unsigned char c : text) {
    unsigned code = c;
    if (c >= 0x80 && c < 0xA0)
      code = HIGH[c - 0x80] != 0 ? HIGH[c - 0x80] : 0xFFFD;
    if (code < 0x80) {
      utf8 += static_cast<char>(code);
    } else if (code < 0x800) {
      utf8 += static_cast<char>(0xC0 | (code >> 6));
      utf8 += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      utf8 += static_cast<char>(0xE0 | (code >> 12));
      utf8 += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return utf8;
}

}  // namespace simtool
