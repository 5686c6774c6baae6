#!/usr/bin/env python3
"""Checks of the built Uninst.exe.

    check_pe.py imports EXE EXPECTED    every imported DLL and function is on the reviewed list
    check_pe.py header EXE              GUI subsystem, subsystem version 4.0, i686
    check_pe.py resources EXE STRINGS_H ICO
                                        French string table byte for byte, icon group, version block
"""
import os
import re
import struct
import subprocess
import sys

OBJDUMP = os.environ.get("OBJDUMP") or "i686-w64-mingw32-objdump"
LANG_FRENCH = 1036


def objdump_p(exe):
    return subprocess.run([OBJDUMP, "-p", exe], check=True, capture_output=True, text=True).stdout


def imports(text):
    """(dll, function) pairs from objdump's import tables."""
    found, dll = [], None
    for line in text.splitlines():
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            dll = m.group(1).upper()
            continue
        m = re.match(r"\s+[0-9a-f]+\s+[0-9]+\s+(\S+)$", line)
        if dll and m:
            found.append((dll, m.group(1)))
        elif dll and not line.strip():
            pass
        elif dll and line.startswith("The "):
            dll = None
    return found


def check_imports(exe, expected_path):
    expected = set()
    with open(expected_path) as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                dll, func = line.split()
                expected.add((dll.upper(), func))
    found = set(imports(objdump_p(exe)))
    if not found:
        return ["no imports found: objdump output not understood"]
    problems = ["import not on the reviewed list: %s %s" % item for item in sorted(found - expected)]
    dlls = {dll for dll, _ in found}
    for dll in sorted(dlls - {"KERNEL32.DLL", "USER32.DLL", "ADVAPI32.DLL", "MSVCRT.DLL"}):
        problems.append("unexpected DLL: " + dll)
    return problems


def check_header(exe):
    text = objdump_p(exe)
    fields = dict(re.findall(r"^(\w+)\s+(\S+)", text, re.M))
    problems = []
    if fields.get("Subsystem") != "00000002":
        problems.append("subsystem is %s, not 2 (Windows GUI)" % fields.get("Subsystem"))
    if (fields.get("MajorSubsystemVersion"), fields.get("MinorSubsystemVersion")) != ("4", "0"):
        problems.append("subsystem version is %s.%s, not 4.0"
                        % (fields.get("MajorSubsystemVersion"), fields.get("MinorSubsystemVersion")))
    if "file format pei-i386" not in text:
        problems.append("not an i386 PE image")
    return problems


class Resources:
    """The resource tree of a PE image: {type: {name: {language: bytes}}}."""

    def __init__(self, exe):
        with open(exe, "rb") as f:
            data = f.read()
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        sections = struct.unpack_from("<H", data, pe + 6)[0]
        optional_size = struct.unpack_from("<H", data, pe + 20)[0]
        optional = pe + 24
        rsrc_rva = struct.unpack_from("<I", data, optional + 96 + 2 * 8)[0]
        self.data = data
        self.sections = []
        for i in range(sections):
            off = optional + optional_size + 40 * i
            vsize, rva, rawsize, rawptr = struct.unpack_from("<IIII", data, off + 8)
            self.sections.append((rva, max(vsize, rawsize), rawptr))
        self.base = self.offset(rsrc_rva)
        self.tree = self.directory(0, 0)

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("RVA %#x outside every section" % rva)

    def directory(self, off, depth):
        named, ids = struct.unpack_from("<HH", self.data, self.base + off + 12)
        result = {}
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", self.data, self.base + off + 16 + 8 * i)
            if name & 0x80000000:
                p = self.base + (name & 0x7FFFFFFF)
                n = struct.unpack_from("<H", self.data, p)[0]
                key = self.data[p + 2:p + 2 + 2 * n].decode("utf-16-le")
            else:
                key = name
            if target & 0x80000000:
                result[key] = self.directory(target & 0x7FFFFFFF, depth + 1)
            else:
                rva, size = struct.unpack_from("<II", self.data, self.base + target)
                p = self.offset(rva)
                result[key] = self.data[p:p + size]
        return result


def c_strings(strings_h):
    """#define STR_... literals of strings.h as bytes, C escapes decoded."""
    with open(strings_h, "rb") as f:
        text = f.read().decode("ascii")
    ids = {m.group(1): int(m.group(2)) for m in re.finditer(r"#define IDS_(\w+) (\d+)", text)}
    texts = {}
    for m in re.finditer(r'#define STR_(\w+) "((?:[^"\\]|\\.)*)"', text):
        raw = m.group(2)
        out = bytearray()
        i = 0
        while i < len(raw):
            if raw[i] == "\\":
                om = re.match(r"[0-7]{1,3}", raw[i + 1:])
                if om:
                    out.append(int(om.group(0), 8))
                    i += 1 + len(om.group(0))
                    continue
                out.append(ord({"n": "\n", "r": "\r", "t": "\t"}.get(raw[i + 1], raw[i + 1])))
                i += 2
                continue
            out.append(ord(raw[i]))
            i += 1
        texts[m.group(1)] = bytes(out)
    return {ids[name]: texts[name] for name in ids}


def string_table(res):
    strings = {}
    for block, langs in res.tree.get(6, {}).items():
        for lang, data in langs.items():
            p = 0
            for i in range(16):
                n = struct.unpack_from("<H", data, p)[0]
                if n:
                    strings[((block - 1) << 4) + i] = (lang, data[p + 2:p + 2 + 2 * n].decode("utf-16-le"))
                p += 2 + 2 * n
    return strings


def version_strings(block):
    """Name/value pairs of a VS_VERSIONINFO block, walked generically."""
    pairs = []

    def walk(p, end):
        while p + 6 <= end:
            length, value_length, kind = struct.unpack_from("<HHH", block, p)
            if length == 0:
                break
            q = p + 6
            key_end = block.index(b"\0\0", q)
            while (key_end - q) % 2:
                key_end = block.index(b"\0\0", key_end + 1)
            key = block[q:key_end].decode("utf-16-le")
            q = (key_end + 2 + 3) & ~3
            size = value_length * 2 if kind == 1 else value_length
            value = block[q:q + size]
            pairs.append((key, kind, value))
            walk((q + size + 3) & ~3, p + length)
            p = (p + length + 3) & ~3

    walk(0, len(block))
    return pairs


def check_resources(exe, strings_h, ico):
    problems = []
    res = Resources(exe)
    for kind, names in sorted(res.tree.items()):
        for name, langs in names.items():
            if list(langs) != [LANG_FRENCH]:
                problems.append("resource %s/%s has languages %s, expected French" % (kind, name, list(langs)))
    table = string_table(res)
    expected = c_strings(strings_h)
    if sorted(table) != sorted(expected):
        problems.append("string ids %s, expected %s" % (sorted(table), sorted(expected)))
    for sid, want in sorted(expected.items()):
        if sid not in table:
            continue
        lang, text = table[sid]
        if lang != LANG_FRENCH:
            problems.append("string %d has language %d" % (sid, lang))
        try:
            got = text.encode("cp1252")
        except UnicodeEncodeError:
            got = text.encode("cp1252", "replace")
        if got != want:
            problems.append("string %d reads %r, expected %r" % (sid, got, want))

    with open(ico, "rb") as f:
        icon = f.read()
    count = struct.unpack_from("<H", icon, 4)[0]
    entries = [struct.unpack_from("<BBBBHHII", icon, 6 + 16 * i) for i in range(count)]
    groups = res.tree.get(14, {})
    if list(groups) != [101]:
        problems.append("icon groups %s, expected the one group IDI_ICON1 (101)" % list(groups))
    else:
        group = next(iter(groups[101].values()))
        n = struct.unpack_from("<H", group, 4)[0]
        images = res.tree.get(3, {})
        sizes = []
        for i in range(n):
            w, h, colours, _, _, bits, size, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
            sizes.append((w, h, colours, bits))
            data = next(iter(images.get(icon_id, {}).values()), b"")
            wanted = [icon[e[7]:e[7] + e[6]] for e in entries if (e[0], e[1]) == (w, h)]
            if not wanted or data != wanted[0]:
                problems.append("icon image %dx%d differs from the .ico file" % (w, h))
        if sorted(sizes) != [(16, 16, 16, 4), (32, 32, 16, 4)]:
            problems.append("icon images %s, expected 32x32 and 16x16 with 16 colours" % sizes)

    versions = res.tree.get(16, {})
    if not versions:
        problems.append("no version block")
    else:
        pairs = version_strings(next(iter(next(iter(versions.values())).values())))
        values = {k: v for k, kind, v in pairs if kind == 1}
        title = b"Programme de d\xe9sinstallation pour le pilote USB bidirectionnel"
        for key in ("FileDescription", "ProductName"):
            got = values.get(key, b"").decode("utf-16-le").rstrip("\0").encode("cp1252", "replace")
            if got != title:
                problems.append("%s reads %r" % (key, got))
        tables = [k for k, kind, _ in pairs if re.fullmatch(r"[0-9A-Fa-f]{8}", k)]
        if [t.upper() for t in tables] != ["040C04E4"]:
            problems.append("string tables %s, expected 040C04E4" % tables)
        translation = [v for k, kind, v in pairs if k == "Translation"]
        if translation != [struct.pack("<HH", 0x040C, 1252)]:
            problems.append("Translation is %r, expected 0x040C, 1252" % translation)
    return problems


def main(argv):
    if len(argv) == 4 and argv[1] == "imports":
        problems = check_imports(argv[2], argv[3])
    elif len(argv) == 3 and argv[1] == "header":
        problems = check_header(argv[2])
    elif len(argv) == 5 and argv[1] == "resources":
        problems = check_resources(argv[2], argv[3], argv[4])
    else:
        print(__doc__, file=sys.stderr)
        return 2
    for problem in problems:
        print(problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
