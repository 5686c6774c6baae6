#!/usr/bin/env python3
"""Compares a run of Uninst.exe under Wine with uninst-sim's run on the same machine image.

  compare.py roots IMAGE.reg      the image's top keys, one a line (what the export must cover)
  compare.py same IMAGE.reg EXPORT.reg   every key and value of the image is in the export
  compare.py check --machine DIR --out DIR --form 98|me [--in-use WINPATH...]

OUT holds wine/ (trace.txt, exit.txt, boxes.txt, registry.reg, files-before/after.txt, the
helpers' exit codes) and sim/ (uninst-sim's --out folder and exit.txt). Exit code 0 when every
check holds, 1 otherwise, each failure on its own line.
"""
import argparse
import re
import sys
from pathlib import Path

# Lines of the trace that may differ, each with why. Anything not listed here must be equal
# byte for byte.
#
# 1. Directory names. Wine's system directory is C:\windows\system32 where Windows 98/ME has
#    C:\WINDOWS\SYSTEM, and its Windows directory is spelt C:\windows: the Wine trace is compared
#    after mapping these two prefixes (case as Wine spells them) to the simulation's. Path
#    lengths in "Checking names[N]" are unaffected, as both Windows directories are 10 bytes.
WINE_PATHS = [(b"C:\\windows\\system32", b"C:\\WINDOWS\\SYSTEM"), (b"C:\\windows", b"C:\\WINDOWS")]
#
# 2. The index in " Closing key <K> N fields result R": the value-name removal ends on the index
#    of the match, and Wine enumerates a key's values in name order where Windows 98 keeps them
#    in the order they were written. N may differ only for a key whose values the image lists
#    out of name order (then the value sits at another index on Wine); the key and R must agree.
CLOSING = re.compile(rb"^ Closing key <(.*)> (\d+) fields result (-?\d+)\n$")
#
# 3. Nothing else: Wine's MoveFileExA with delay-until-reboot succeeds, and the simulation is
#    run with --movefileex to match, so a file in use takes the same "Bucketing File ... result 0"
#    line on both. The WinInit.ini fallback for a Windows 98 without MoveFileExA cannot be reached
#    under Wine and is proven on the simulation only (tests/host).


def logical_lines(text):
    """REGEDIT4 lines with CR LF or LF, continuation lines joined."""
    lines, current = [], None
    for raw in text.split(b"\n"):
        raw = raw.rstrip(b"\r")
        if current is not None:
            raw = current + raw.lstrip(b" \t")
            current = None
        if raw.endswith(b"\\") and not raw.startswith(b"["):
            current = raw[:-1]
            continue
        lines.append(raw)
    if current is not None:
        lines.append(current)
    return lines


def value_name(line):
    """The value name of a value line (None for @) and the data text after the '='."""
    if line.startswith(b"@="):
        return None, line[2:]
    assert line.startswith(b'"'), line
    pos, name = 1, bytearray()
    while line[pos:pos + 1] != b'"':
        if line[pos:pos + 1] == b"\\":
            pos += 1
        name += line[pos:pos + 1]
        pos += 1
    assert line[pos + 1:pos + 2] == b"=", line
    return bytes(name), line[pos + 2:]


def fold(data):
    """ASCII case folding, as the registry and the simulation compare names."""
    return data.lower() if data is not None else None


def parse_image(text):
    """{folded key: (key, {folded value name: (value name, data text)})} of a REGEDIT4 image."""
    keys, current = {}, None
    lines = logical_lines(text)
    if not lines or lines[0] != b"REGEDIT4":
        raise ValueError("REGEDIT4 header expected")
    for line in lines[1:]:
        if not line or line.startswith(b";"):
            continue
        if line.startswith(b"[") and line.endswith(b"]"):
            key = line[1:-1]
            current = keys.setdefault(fold(key), (key, {}))[1]
            continue
        name, data = value_name(line)
        current[fold(name)] = (name, data)
    return keys


def top_keys(keys):
    """Keys of the image whose parent is not in it."""
    tops = []
    for folded, (key, _) in keys.items():
        parent = folded.rpartition(b"\\")[0]
        if b"\\" not in folded or parent not in keys:
            tops.append(key)
    return tops


def read(path):
    return Path(path).read_bytes()


def wine_to_sim_paths(line):
    for wine, sim in WINE_PATHS:
        line = line.replace(wine, sim)
    return line


def wine_value_order(names):
    """Value names in the order Wine enumerates them: by name, letters folded to upper case."""
    return sorted(names, key=lambda name: (name or b"").upper())


def unordered_value_keys(image):
    """Keys under HKEY_LOCAL_MACHINE, as the trace names them, whose values Wine reorders."""
    keys = set()
    prefix = b"hkey_local_machine\\"
    for folded, (_, values) in image.items():
        names = [name for name, _ in values.values()]
        if folded.startswith(prefix) and names != wine_value_order(names):
            keys.add(folded[len(prefix):])
    return keys


def allowed_difference(wine_line, sim_line, reordered):
    w, s = CLOSING.match(wine_line), CLOSING.match(sim_line)
    return bool(w and s and w.group(1) == s.group(1) and w.group(3) == s.group(3) and fold(w.group(1)) in reordered)


def check_trace(wine, sim, image, problems, notes):
    wine_lines = [wine_to_sim_paths(line) for line in wine.splitlines(keepends=True)]
    sim_lines = sim.splitlines(keepends=True)
    reordered = unordered_value_keys(image)
    for number, (w, s) in enumerate(zip(wine_lines, sim_lines), 1):
        if w != s and allowed_difference(w, s, reordered):
            notes.append(f"trace line {number}: value index differs (Wine's value order): {w!r} / {s!r}")
        elif w != s:
            problems.append(f"trace line {number}: wine {w!r} != sim {s!r}")
            return
    if len(wine_lines) != len(sim_lines):
        extra = wine_lines[len(sim_lines):] or sim_lines[len(wine_lines):]
        problems.append(f"trace: wine {len(wine_lines)} lines, sim {len(sim_lines)}; first extra {extra[0]!r}")


def check_registry(image, wine, sim, problems):
    """The image's own keys and values: what the simulation leaves, Wine must leave."""
    for folded, (key, values) in image.items():
        in_wine, in_sim = folded in wine, folded in sim
        if in_wine != in_sim:
            state = "kept" if in_wine else "removed"
            problems.append(f"registry: Wine {state} [{key.decode('latin-1')}], the simulation did not")
            continue
        if not in_wine:
            continue
        for vfold, (name, _) in values.items():
            w, s = wine[folded][1].get(vfold), sim[folded][1].get(vfold)
            if w != s:
                label = "@" if name is None else name.decode("latin-1")
                problems.append(f"registry: [{key.decode('latin-1')}] {label}: wine {w} != sim {s}")
    for folded, (key, _) in sim.items():
        if folded not in image:
            problems.append(f"registry: the simulation has [{key.decode('latin-1')}], which the image did not")


# Folders of the image's drive and where the seeding put them in the Wine prefix.
DRIVE_TO_WINE = [("WINDOWS/SYSTEM/", "system32/"), ("WINDOWS/INF/OTHER/", "inf/other/"), ("WINDOWS/INF/", "inf/")]


def wine_name(drive_path):
    for image_dir, wine_dir in DRIVE_TO_WINE:
        if drive_path.upper().startswith(image_dir) and "/" not in drive_path[len(image_dir):]:
            return (wine_dir + drive_path[len(image_dir):]).lower()
    return None


def check_files(machine, sim_dir, wine_after, problems):
    """Each file of the image is gone under Wine exactly when it is gone in the simulation."""
    wine_files = {line.lower() for line in wine_after}
    sim_drive = sim_dir / "drive"
    for path in sorted((machine / "drive").rglob("*")):
        if not path.is_file():
            continue
        relative = path.relative_to(machine / "drive").as_posix()
        name = wine_name(relative)
        if name is None:
            continue
        in_sim = (sim_drive / relative).exists()
        in_wine = name in wine_files
        if in_sim != in_wine:
            problems.append(f"files: {relative} {'kept' if in_wine else 'removed'} under Wine, not in the simulation")


def check_in_use(in_use, wine_reg, wine_after, problems):
    """A file in use stays, and Wine's MoveFileExA queued its deletion for the next boot."""
    session = wine_reg.get(fold(b"HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Session Manager"))
    pending = session[1].get(fold(b"PendingFileRenameOperations")) if session else None
    queued = b""
    if pending is not None:
        data = pending[1]
        hex_part = data.partition(b":")[2]
        queued = bytes(int(h, 16) for h in hex_part.split(b",") if h.strip())
    for path in in_use:
        name = path.rpartition("\\")[2]
        wine_path = "C:\\windows\\system32\\" + name
        if "system32/" + name.lower() not in {line.lower() for line in wine_after}:
            problems.append(f"in use: {path} was deleted under Wine")
        # A REG_MULTI_SZ of source and target names, the source prefixed by \??\; the export
        # reads it through the ANSI calls, so its names are ANSI. An empty target means deletion.
        if ("\\??\\" + wine_path + "\0\0").lower().encode("latin-1") not in queued.lower():
            problems.append(f"in use: {wine_path} not queued in PendingFileRenameOperations")


def check_wininit(machine, sim_dir, windows, problems):
    """WinInit.ini, where the image has one, is left as the simulation leaves it: byte for byte."""
    image = machine / "drive" / "WINDOWS" / "WININIT.INI"
    if not image.exists():
        return
    sim, wine = sim_dir / "drive" / "WINDOWS" / "WININIT.INI", windows / "WININIT.INI"
    sim_bytes = read(sim) if sim.exists() else None
    wine_bytes = read(wine) if wine.exists() else None
    if sim_bytes != wine_bytes:
        problems.append(f"WinInit.ini: wine {wine_bytes!r} != sim {sim_bytes!r}")


def check(args):
    out, machine = Path(args.out), Path(args.machine)
    wine_dir, sim_dir = out / "wine", out / "sim"
    problems, notes = [], []
    sim_exit = read(sim_dir / "exit.txt").strip().decode()
    wine_exit = read(wine_dir / "exit.txt").strip().decode() if (wine_dir / "exit.txt").exists() else "none"
    if sim_exit not in ("0", "5"):
        problems.append(f"uninst-sim failed with {sim_exit}: {read(sim_dir / 'stdout.txt')[-500:]!r}")
    if wine_exit != sim_exit:
        problems.append(f"exit code: wine {wine_exit} != sim {sim_exit}")
    answerer = read(wine_dir / "answerer.txt").strip().decode()
    boxes = read(wine_dir / "boxes.txt").decode("cp1252") if (wine_dir / "boxes.txt").exists() else ""
    if answerer != "0":
        problems.append(f"message boxes (answerer exit {answerer}):\n{boxes}")
    if not problems or sim_exit in ("0", "5"):
        image = parse_image(read(machine / "registry.reg"))
        check_trace(read(wine_dir / "trace.txt"), read(sim_dir / "trace.txt"), image, problems, notes)
        wine_reg = parse_image(read(wine_dir / "registry.reg"))
        check_registry(image, wine_reg, parse_image(read(sim_dir / "registry.reg")), problems)
        wine_after = read(wine_dir / "files-after.txt").decode().splitlines()
        check_files(machine, sim_dir, wine_after, problems)
        check_in_use(args.in_use, wine_reg, wine_after, problems)
        check_wininit(machine, sim_dir, wine_dir / "WINDOWS", problems)
        if args.in_use:
            notes.append("a file in use was queued by MoveFileExA, which succeeds on Wine: the WinInit.ini "
                         "fallback of Windows 98/ME is proven on the simulation only")
    for note in notes:
        print("allowed:", note)
    for problem in problems:
        print("FAILED:", problem)
    print(f"{out.name}: Windows {args.form}, exit code {wine_exit}, {len(problems)} problem(s)")
    return 1 if problems else 0


def same(image_path, export_path):
    """Every key and value of the image is in the export with the same data."""
    image, exported = parse_image(read(image_path)), parse_image(read(export_path))
    problems = []
    for folded, (key, values) in image.items():
        if folded not in exported:
            problems.append(f"[{key.decode('latin-1')}] missing")
            continue
        for vfold, (name, data) in values.items():
            got = exported[folded][1].get(vfold)
            if got is None or got[1] != data:
                problems.append(f"[{key.decode('latin-1')}] {name!r}: {data!r} read back as {got!r}")
    for problem in problems:
        print("FAILED:", problem)
    return 1 if problems else 0


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "same":
        return same(sys.argv[2], sys.argv[3])
    if len(sys.argv) == 3 and sys.argv[1] == "roots":
        for key in top_keys(parse_image(read(sys.argv[2]))):
            print(key.decode("latin-1"))
        return 0
    parser = argparse.ArgumentParser()
    parser.add_argument("command", choices=["check"])
    parser.add_argument("--machine", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--form", required=True)
    parser.add_argument("--in-use", nargs="*", default=[])
    return check(parser.parse_args())


if __name__ == "__main__":
    sys.exit(main())
