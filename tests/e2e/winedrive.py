#!/usr/bin/env python3
"""Puts a machine image's drive into a Wine prefix's C: and reads it back after the run.

  winedrive.py seed DRIVE DRIVE_C OUT [C:\\PATH...]   before the run
  winedrive.py collect DRIVE DRIVE_C OUT             after the run

DRIVE is the image's drive/ (it may be missing), DRIVE_C the prefix's drive_c, OUT the case's
wine/ folder. The image's Windows directory (its top folder named WINDOWS in any case) goes to
Wine's windows, its system directory (that folder's SYSTEM) to Wine's system32, and every other
folder to the prefix's folder of that name in any case, made when missing: Wine, as Windows,
finds names case-blind, and a second folder differing in case only would hide one of the two. A
file the prefix already holds (KERNEL32.DLL, WIN.INI...) is Wine's own: it is left as Wine has it,
as Wine needs it, and only its presence after the run is compared. Each C:\\PATH names a file in
use: it is made read-only, as Wine refuses to delete a read-only file with 5, the code Windows 98
gives for a file in use.

seed writes OUT/seeded.json ({"image": path under DRIVE, "wine": path under DRIVE_C, "own": bool}
for each file) and OUT/files-before.txt (every file of DRIVE_C); collect writes
OUT/files-after.txt and OUT/drive/, the image's drive as the run left it under Wine, under the
image's names: its files still there, and any file the run created (in the image's folders where
they match case-blind).
"""
import json
import os
import shutil
import stat
import sys
from pathlib import Path

ASCII_LOWER = str.maketrans("ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz")


def fold(name):
    """Names compared as Windows 98 compares them: ASCII letters only, case-blind."""
    return name.translate(ASCII_LOWER)


def resolve(root, parts):
    """The parts, each spelt as an existing entry of root that matches it case-blind, if any."""
    resolved, folder = [], Path(root)
    for part in parts:
        match = part
        if folder.is_dir():
            match = next((entry.name for entry in folder.iterdir() if fold(entry.name) == fold(part)), part)
        resolved.append(match)
        folder = folder / match
    return resolved


def wine_parts(parts):
    """A path of the image's drive with its Windows and system directories named as Wine's."""
    parts = list(parts)
    if parts and fold(parts[0]) == "windows":
        parts[0] = "windows"
        if len(parts) > 1 and fold(parts[1]) == "system":
            parts[1] = "system32"
    return parts


def image_parts(drive, wine_path):
    """The image-side path of a file of the prefix: the inverse of wine_parts, then the image's
    own spelling of the folders it holds."""
    parts = wine_path.split("/")
    if parts[0] == "windows":
        parts[0] = "WINDOWS"
        if len(parts) > 1 and parts[1] == "system32":
            parts[1] = "SYSTEM"
    return resolve(drive, parts)


def list_files(root):
    """Every plain file under root; links are not followed (a prefix links its users' folders to
    the host's home)."""
    names = []
    for folder, _, files in os.walk(root):
        for name in files:
            path = Path(folder) / name
            if path.is_file() and not path.is_symlink():
                names.append(path.relative_to(root).as_posix())
    return sorted(names)


def windows_parts(win_path):
    """The components of a C:\\ path, or None for any other path."""
    if len(win_path) < 3 or fold(win_path[:3]) != "c:\\":
        return None
    return [part for part in win_path[3:].split("\\") if part not in ("", ".")]


def seed(drive, drive_c, out, in_use):
    records = []
    for relative in list_files(drive) if drive.is_dir() else []:
        wine = resolve(drive_c, wine_parts(relative.split("/")))
        target = drive_c.joinpath(*wine)
        own = target.exists()
        if not own:
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(drive / relative, target)
        records.append({"image": relative, "wine": "/".join(wine), "own": own})
    for win_path in in_use:
        parts = windows_parts(win_path)
        target = drive_c.joinpath(*resolve(drive_c, wine_parts(parts))) if parts else None
        if target is None or not target.is_file():
            print(f"--in-use {win_path}: no such file on the machine", file=sys.stderr)
            return 2
        target.chmod(target.stat().st_mode & ~(stat.S_IWUSR | stat.S_IWGRP | stat.S_IWOTH))
    (out / "seeded.json").write_text(json.dumps(records, indent=1) + "\n")
    (out / "files-before.txt").write_text("".join(name + "\n" for name in list_files(drive_c)))
    return 0


def collect(drive, drive_c, out):
    after = list_files(drive_c)
    (out / "files-after.txt").write_text("".join(name + "\n" for name in after))
    before = set((out / "files-before.txt").read_text().splitlines())
    kept = {(record["wine"], record["image"]) for record in json.loads((out / "seeded.json").read_text())}
    created = {(name, "/".join(image_parts(drive, name))) for name in after if name not in before}
    for wine, image in sorted(kept | created):
        if (drive_c / wine).is_file():
            target = out / "drive" / image
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(drive_c / wine, target)
    return 0


def main():
    if len(sys.argv) >= 5 and sys.argv[1] == "seed":
        return seed(Path(sys.argv[2]), Path(sys.argv[3]), Path(sys.argv[4]), sys.argv[5:])
    if len(sys.argv) == 5 and sys.argv[1] == "collect":
        return collect(Path(sys.argv[2]), Path(sys.argv[3]), Path(sys.argv[4]))
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
