#!/usr/bin/env python3
"""Writes a whole-registry export as Windows 98's `regedit /e` writes it, for timing uninst-sim.

usage: make-export.py SCALE OUT

About 120,000 keys and 25 MB per unit of SCALE: the package's keys and the foreign keys of
samples/win98 among class registrations, device instances with wrapped binary resource data,
driver nodes, shared-DLL counts and per-user settings under HKEY_USERS (wrapped hex, hex(2),
hex(7)), a few text values holding a raw line break (the second line is garbage to a reader),
and a Ctrl-Z after the last line, which has no line end. Seeded: the same SCALE gives the same
bytes.
"""
import os
import random
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLE = os.path.join(HERE, "..", "samples", "win98", "registry.reg")
KEYS_PER_SCALE = 120000


def quote(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def hex_line(start, data):
    # As regedit wraps binary data: a backslash and two blanks past column 74.
    out = [start]
    column = len(start)
    for i, byte in enumerate(data):
        out.append("%02x" % byte)
        column += 2
        if i + 1 < len(data):
            out.append(",")
            column += 1
            if column > 74:
                out.append("\\\r\n  ")
                column = 2
    return "".join(out)


def text_value(name, text):
    return (quote(name) if name else "@") + "=" + quote(text)


def binary_value(name, data, kind="hex"):
    return hex_line(quote(name) + "=" + kind + ":", data)


def dword_value(name, number):
    return quote(name) + "=dword:%08x" % number


def multi_sz(items):
    return b"".join(item.encode("cp1252") + b"\0" for item in items) + b"\0"


class Export:
    def __init__(self, out, rng):
        self.out = out
        self.rng = rng
        self.keys = 0

    def key(self, path, values=()):
        self.out.write(("[" + path + "]\r\n").encode("cp1252"))
        for value in values:
            self.out.write(value.encode("cp1252") + b"\r\n")
        self.out.write(b"\r\n")
        self.keys += 1

    def raw(self, text):
        self.out.write(text)

    def word(self, low=4, high=10):
        return "".join(self.rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(self.rng.randint(low, high)))

    def guid(self):
        r = self.rng
        return "{%08X-%04X-%04X-%04X-%012X}" % (
            r.getrandbits(32), r.getrandbits(16), r.getrandbits(16), r.getrandbits(16), r.getrandbits(48))

    def blob(self, low, high):
        return bytes(self.rng.getrandbits(8) for _ in range(self.rng.randint(low, high)))


def sample_sections():
    """The sample machine's HKEY_LOCAL_MACHINE sections, as text (its HKEY_DYN_DATA left out:
    an export has none)."""
    with open(SAMPLE, "rb") as f:
        text = f.read()
    body = text.split(b"\r\n", 2)[2]
    return body.split(b"[HKEY_DYN_DATA")[0]


def classes(e, count):
    base = "HKEY_LOCAL_MACHINE\\Software\\Classes"
    e.key(base)
    for i in range(count // 4):
        ext = "." + e.word(2, 4) + str(i)
        e.key(base + "\\" + ext, [text_value("", ext[1:] + "file"), text_value("Content Type", "application/x-" + ext[1:])])
    for _ in range(count // 4):
        clsid = e.guid()
        name = e.word(6, 14).capitalize() + " Class"
        e.key(base + "\\CLSID\\" + clsid, [text_value("", name)])
        e.key(base + "\\CLSID\\" + clsid + "\\InprocServer32",
              [text_value("", "C:\\WINDOWS\\SYSTEM\\" + e.word(5, 8).upper() + ".DLL"),
               text_value("ThreadingModel", "Apartment")])
        e.key(base + "\\CLSID\\" + clsid + "\\ProgID", [text_value("", name.replace(" ", ".") + ".1")])


def devices(e, count):
    base = "HKEY_LOCAL_MACHINE\\Enum\\PCI"
    for i in range(count):
        vendor = "VEN_%04X&DEV_%04X" % (e.rng.getrandbits(16), e.rng.getrandbits(16))
        instance = "BUS_%02X&DEV_%02X&FUNC_%02X" % (i % 256, i // 256 % 32, i % 8)
        e.key(base + "\\" + vendor + "\\" + instance, [
            text_value("DeviceDesc", "P\xe9riph\xe9rique " + e.word()),
            text_value("Class", "System"),
            text_value("HardwareID", "PCI\\" + vendor + ",PCI\\" + vendor[:8]),
            text_value("Mfg", e.word().capitalize()),
            text_value("Driver", "System\\%04d" % (i % 10000)),
            binary_value("ConfigFlags", b"\0\0\0\0"),
            binary_value("BootConfig", e.blob(16, 40)),
            binary_value("Capabilities", e.blob(4, 4)),
        ])


def drivers(e, count):
    base = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\System"
    for i in range(count):
        e.key(base + "\\%04d" % i, [
            text_value("DriverDesc", e.word(6, 20).capitalize() + " controller"),
            text_value("ProviderName", e.word().capitalize()),
            text_value("InfPath", "MACHINE.INF"),
            text_value("InfSection", e.word().upper()),
            text_value("DevLoader", "*CONFIGMG"),
            text_value("DriverDate", " 4-23-1999"),
            text_value("MatchingDeviceId", "pci\\ven_%04x" % e.rng.getrandbits(16)),
        ])


def software(e, count):
    base = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion"
    e.key(base + "\\SharedDLLs", [dword_value("C:\\WINDOWS\\SYSTEM\\" + e.word(5, 8).upper() + "%d.DLL" % i,
                                              e.rng.randint(1, 9)) for i in range(count // 10)])
    for i in range(count - 1):
        app = e.word(5, 12).capitalize() + " %d" % i
        e.key(base + "\\Uninstall\\" + app, [
            text_value("DisplayName", app + " pour Windows 98"),
            text_value("UninstallString", "C:\\PROGRA~1\\" + app[:6].upper() + "\\UNWISE.EXE /S"),
        ])


def users(e, count, garbage):
    for i in range(count):
        user = ".DEFAULT" if i % 2 == 0 else "utilisateur%d" % (i % 7)
        base = "HKEY_USERS\\" + user + "\\Software\\" + e.word().capitalize() + "\\" + e.word() + "%d" % i
        values = [
            binary_value("Settings", e.blob(8, 40)),
            binary_value("Path", ("%SystemRoot%\\" + e.word() + "\0").encode("cp1252"), "hex(2)"),
            binary_value("Recent", multi_sz([e.word() + ".doc" for _ in range(2)]), "hex(7)"),
            text_value("Owner", "Soci\xe9t\xe9 " + e.word().capitalize()),
        ]
        if i in garbage:
            # The 9x regedit writes a text holding a line break as it is.
            values.append(text_value("Comment", "Premi\xe8re ligne\r\n" + e.word() + " suite"))
        e.key(base, values)


def main():
    scale = int(sys.argv[1])
    rng = random.Random(1998 + scale)
    total = KEYS_PER_SCALE * scale
    with open(sys.argv[2], "wb") as f:
        e = Export(f, rng)
        f.write(b"REGEDIT4\r\n\r\n")
        sample = sample_sections()
        f.write(sample)
        e.keys += sample.count(b"\r\n[")
        classes(e, total * 45 // 100)
        devices(e, total * 10 // 100)
        drivers(e, total * 10 // 100)
        software(e, total * 10 // 100)
        remaining = total - e.keys
        garbage = set(rng.sample(range(remaining), 5 * scale))
        users(e, remaining, garbage)
        # The last line has no line end, and DOS's end-of-file mark follows it.
        f.seek(-4, os.SEEK_CUR)
        f.truncate()
        f.write(b"\x1a")
    print("%s: %d keys, %d bytes" % (sys.argv[2], e.keys, os.path.getsize(sys.argv[2])))


if __name__ == "__main__":
    main()
