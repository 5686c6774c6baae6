#!/usr/bin/env python3
"""Compares a run of Uninst.exe under Wine with uninst-sim's run on the same machine image.

  compare.py roots IMAGE.reg      the image's top keys, one a line (what the export must cover)
  compare.py same IMAGE.reg EXPORT.reg   every key and value of the image is in the export
  compare.py wine-order IMAGE.reg OUT.reg   the image with every key and value in Wine's order
  compare.py check --machine DIR --out DIR --form 98|me

An image may name only the keys that hold values: their parents are implied, as regedit makes
them. OUT holds wine/ (trace.txt, exit.txt, boxes.txt, registry.reg, seeded.json, drive/, the
helpers' exit codes; see winedrive.py) and sim/ (uninst-sim's --out folder and exit.txt). Exit
code 0 when every check holds, 1 otherwise, each failure on its own line.
"""
import argparse
import json
import sys
from pathlib import Path

from winedrive import fold as fold_path

# Lines of the trace that may differ, each with why. Anything not listed here must be equal
# byte for byte.
#
# 1. Directory names. Wine's system directory is C:\windows\system32 where Windows 98/ME has
#    C:\WINDOWS\SYSTEM, and its Windows directory is spelt C:\windows: the Wine trace is compared
#    after mapping these two prefixes (case as Wine spells them) to the simulation's. Path
#    lengths in "Checking names[N]" are unaffected, as both Windows directories are 10 bytes.
WINE_PATHS = [(b"C:\\windows\\system32", b"C:\\WINDOWS\\SYSTEM"), (b"C:\\windows", b"C:\\WINDOWS")]
#
# 2. Nothing else. Wine enumerates keys and values in name order where Windows 98 keeps the
#    order they were made in: the simulation runs on the image rewritten in Wine's order
#    (wine-order), so that both walk the same registry. Wine's MoveFileExA with delay-until-reboot
#    succeeds, and the simulation is run with --movefileex to match, so a file in use takes the
#    same "Bucketing File ... result 0" line on both. The WinInit.ini fallback for a Windows 98
#    without MoveFileExA cannot be reached under Wine and is proven on the simulation only
#    (tests/host).
#
# Files: a file of the image that Wine's prefix holds already is Wine's own (winedrive.py); only
# its presence after the run is compared.


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


def with_parents(keys):
    """The keys with every parent they imply, up to the one under the root (the roots are no
    keys of the image)."""
    closed = dict(keys)
    for key, _ in keys.values():
        parts = key.split(b"\\")
        for depth in range(2, len(parts)):
            parent = b"\\".join(parts[:depth])
            closed.setdefault(fold(parent), (parent, {}))
    return closed


def top_keys(keys):
    """Keys of the image whose parent is not in it."""
    tops = []
    for folded, (key, _) in keys.items():
        parent = folded.rpartition(b"\\")[0]
        if b"\\" not in folded or parent not in keys:
            tops.append(key)
    return tops


def cp1252_text(data):
    """Code page 1252 bytes as text; the five bytes it leaves undefined as Windows maps them."""
    return "".join(bytes([byte]).decode("cp1252", errors="ignore") or chr(byte) for byte in data)


def cp1252_bytes(text):
    return b"".join(c.encode("cp1252", errors="ignore") or c.encode("latin-1") for c in text)


def wine_fold(name):
    """A name as Wine's server orders keys and values: each character in upper case, compared
    as UTF-16 (ß stays ß, as Wine keeps it)."""
    return "".join(c.upper() if len(c.upper()) == 1 else c for c in cp1252_text(name or b""))


def value_line(name, data):
    if name is None:
        return b"@=" + data
    return b'"' + name.replace(b"\\", b"\\\\").replace(b'"', b'\\"') + b'"=' + data


def wine_order(keys):
    """A REGEDIT4 image of the keys, each key after its parent and its siblings in the order
    Wine enumerates them, each key's values in the order Wine enumerates them."""
    ordered = sorted(keys.values(), key=lambda entry: [wine_fold(part) for part in entry[0].split(b"\\")])
    out = [b"REGEDIT4", b""]
    for key, values in ordered:
        out.append(b"[" + key + b"]")
        out += [value_line(name, data) for name, data in sorted(values.values(), key=lambda v: wine_fold(v[0]))]
        out.append(b"")
    return b"\r\n".join(out) + b"\r\n"


def read(path):
    return Path(path).read_bytes()


def wine_to_sim_paths(line):
    for wine, sim in WINE_PATHS:
        line = line.replace(wine, sim)
    return line


def check_boxes(wine_log, sim_dialogs, problems):
    """The boxes Wine showed, as BoxAnswer logged them, are those the simulation showed."""
    wine = []
    for line in wine_log.splitlines():
        if line.startswith("box ") and " [" in line:
            seen = line[line.index(" [") + 1:]
            wine.append(seen.rpartition(" (")[0])
    sim = [f"[{dialog['caption']}] {dialog['text']}" for dialog in sim_dialogs]
    if wine != sim:
        problems.append(f"boxes: wine {wine} != sim {sim}")


def check_trace(wine, sim, problems):
    wine_lines = [wine_to_sim_paths(line) for line in wine.splitlines(keepends=True)]
    sim_lines = sim.splitlines(keepends=True)
    for number, (w, s) in enumerate(zip(wine_lines, sim_lines), 1):
        if w != s:
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


def drive_files(root):
    """{folded path: path} of the files under root, paths relative to it."""
    root = Path(root)
    files = sorted(path for path in root.rglob("*") if path.is_file()) if root.is_dir() else []
    return {fold_path(path.relative_to(root).as_posix()): path.relative_to(root).as_posix() for path in files}


def check_files(machine, out, seeded, problems):
    """The image's drive as the run left it under Wine (wine/drive, winedrive.py) is the drive as
    the simulation left it: the same files, created ones included, with the same bytes. Names
    match case-blind; Wine's own files are compared by presence only."""
    image = drive_files(machine / "drive")
    sim, wine = drive_files(out / "sim" / "drive"), drive_files(out / "wine" / "drive")
    own = {fold_path(record["image"]) for record in seeded if record["own"]}
    for folded in sorted(set(sim) | set(wine)):
        name = sim.get(folded) or wine[folded]
        if folded in sim and folded in wine:
            same_bytes = read(out / "sim" / "drive" / sim[folded]) == read(out / "wine" / "drive" / wine[folded])
            if folded not in own and not same_bytes:
                problems.append(f"files: {name} differs: wine {wine[folded]}, sim {sim[folded]}")
        elif folded in image:
            side = "kept under Wine, removed in the simulation" if folded in wine else "removed under Wine only"
            problems.append(f"files: {name} {side}")
        else:
            problems.append(f"files: {name} created {'under Wine' if folded in wine else 'in the simulation'} only")


def pending_operations(wine_reg):
    """The boot-time operations Wine's MoveFileExA queued: (source, target) pairs, the source
    without its \\??\\ prefix, an empty target for a deletion."""
    session = wine_reg.get(fold(b"HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Session Manager"))
    pending = session[1].get(fold(b"PendingFileRenameOperations")) if session else None
    if pending is None:
        return []
    # A REG_MULTI_SZ of source and target names; the export reads it through the ANSI calls.
    names = bytes(int(h, 16) for h in pending[1].partition(b":")[2].split(b",") if h.strip()).split(b"\0")
    pairs = []
    for source, target in zip(names[0::2], names[1::2]):
        if not source:
            break
        pairs.append((source.removeprefix(b"\\??\\"), target))
    return pairs


def check_queued(wine_reg, sim_queued, problems):
    """Wine queued for deletion at the next boot exactly the files the simulation queued, in the
    same order, and nothing else."""
    wine = [wine_to_sim_paths(source) + (b" => " + target if target else b"")
            for source, target in pending_operations(wine_reg)]
    sim = [cp1252_bytes(entry["file"]) for entry in sim_queued]
    if wine != sim:
        problems.append(f"queued for the next boot: wine {wine} != sim {sim}")


def check(args):
    out, machine = Path(args.out), Path(args.machine)
    wine_dir, sim_dir = out / "wine", out / "sim"
    problems = []
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
    report = {}
    if sim_exit in ("0", "5"):
        report = json.loads(read(sim_dir / "report.json"))
        check_boxes(boxes, report["dialogs"], problems)
        check_trace(read(wine_dir / "trace.txt"), read(sim_dir / "trace.txt"), problems)
        image = with_parents(parse_image(read(machine / "registry.reg")))
        wine_reg = parse_image(read(wine_dir / "registry.reg"))
        check_registry(image, wine_reg, parse_image(read(sim_dir / "registry.reg")), problems)
        check_files(machine, out, json.loads(read(wine_dir / "seeded.json")), problems)
        check_queued(wine_reg, report["filesQueued"], problems)
    if report.get("filesQueued"):
        print("allowed: a file in use was queued by MoveFileExA, which succeeds on Wine: the WinInit.ini "
              "fallback of Windows 98/ME is proven on the simulation only")
    for problem in problems:
        print("FAILED:", problem)
    print(f"{out.name}: Windows {args.form}, exit code {wine_exit}, {len(problems)} problem(s)")
    return 1 if problems else 0


def same(image_path, export_path):
    """Every key and value of the image is in the export with the same data."""
    image, exported = with_parents(parse_image(read(image_path))), parse_image(read(export_path))
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
        for key in top_keys(with_parents(parse_image(read(sys.argv[2])))):
            print(key.decode("latin-1"))
        return 0
    if len(sys.argv) == 4 and sys.argv[1] == "wine-order":
        Path(sys.argv[3]).write_bytes(wine_order(with_parents(parse_image(read(sys.argv[2])))))
        return 0
    parser = argparse.ArgumentParser()
    parser.add_argument("command", choices=["check"])
    parser.add_argument("--machine", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--form", required=True)
    return check(parser.parse_args())


if __name__ == "__main__":
    sys.exit(main())
