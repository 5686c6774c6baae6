#!/usr/bin/env python3
"""Writes the disk images of `make dist` for EXE into WORK with scripts/make-dist.sh, reads them
back with their own tools (mtools, xorriso) and checks what a Windows 98/ME machine gets from
them: the exe byte for byte, a floppy of exactly 1.44 MB in FAT12, a CD with a Joliet tree, and
LISEZMOI.TXT in code page 1252 with CR LF line ends.

    check_dist.py EXE WORK
"""
import os
import shutil
import subprocess
import sys
from pathlib import Path

SOURCE = Path(__file__).resolve().parents[2]
FLOPPY_SIZE = 1474560
NAMES = {"UNINST.EXE", "LISEZMOI.TXT"}


def run(*args):
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1", LC_ALL="C.UTF-8")
    done = subprocess.run(args, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if done.returncode != 0:
        sys.exit(f"{' '.join(args)} failed with {done.returncode}:\n{done.stdout}")


def check_files(where, folder, exe, problems):
    names = {p.name for p in folder.iterdir()}
    if names != NAMES:
        problems.append(f"{where}: holds {sorted(names)}, not {sorted(NAMES)}")
        return
    if (folder / "UNINST.EXE").read_bytes() != exe:
        problems.append(f"{where}: UNINST.EXE is not the build's Uninst.exe")
    text = (folder / "LISEZMOI.TXT").read_bytes()
    if text.count(b"\n") == 0 or text.count(b"\n") != text.count(b"\r\n") or text.count(b"\r") != text.count(b"\n"):
        problems.append(f"{where}: LISEZMOI.TXT line ends are not all CR LF")
    expected = (SOURCE / "scripts/LISEZMOI.txt").read_text(encoding="utf-8")
    if text.replace(b"\r\n", b"\n") != expected.encode("cp1252"):
        problems.append(f"{where}: LISEZMOI.TXT is not scripts/LISEZMOI.txt in code page 1252")


def has_joliet(iso):
    """A supplementary volume descriptor with a UCS-2 escape sequence: Windows reads its names."""
    with open(iso, "rb") as f:
        for sector in range(16, 32):
            f.seek(sector * 2048)
            descriptor = f.read(2048)
            if descriptor[0] == 255:
                return False
            if descriptor[0] == 2 and descriptor[88:90] == b"%/":
                return True
    return False


def main():
    exe_path, work = Path(sys.argv[1]), Path(sys.argv[2])
    shutil.rmtree(work, ignore_errors=True)
    run("bash", str(SOURCE / "scripts/make-dist.sh"), str(exe_path), str(work))
    exe = exe_path.read_bytes()
    problems = []

    if (work / "Uninst.exe").read_bytes() != exe:
        problems.append("Uninst.exe is not the build's")

    floppy = work / "uninst-floppy.img"
    if floppy.stat().st_size != FLOPPY_SIZE:
        problems.append(f"floppy image of {floppy.stat().st_size} bytes, not {FLOPPY_SIZE}")
    if floppy.read_bytes()[54:62] != b"FAT12   ":
        problems.append("floppy image is not FAT12")
    (work / "floppy").mkdir()
    run("mcopy", "-n", "-i", str(floppy), "::/*", str(work / "floppy"))
    check_files("floppy", work / "floppy", exe, problems)

    iso = work / "uninst.iso"
    if not has_joliet(iso):
        problems.append("CD image has no Joliet tree")
    run("xorriso", "-osirrox", "on", "-indev", str(iso), "-extract", "/", str(work / "cd"))
    check_files("CD", work / "cd", exe, problems)

    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
