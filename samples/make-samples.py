#!/usr/bin/env python3
"""Writes the sample machine images (samples/win98, samples/winme, samples/connected).

Each image is a folder with registry.reg (REGEDIT4, code page 1252, CR LF), drive/ (the C:
drive), answers.txt (the default answers) and, where needed, options.txt (more uninst-sim
options). Subkeys and values are written in case-insensitive name order, the order in which the
NT-family registries (Wine among them) enumerate, so that a run under Wine and a run on the
simulation walk the same keys in the same order.

    samples/make-samples.py            rewrites the images
    samples/make-samples.py --check    exits 1 when an image differs from what it would write
"""
import os
import shutil
import sys
import tempfile

PRINTER_INTERFACE = "{28D78FAD-5A12-11D1-AE5B-0000F803A8C2}"
TALVO_SHORT_INTERFACE = "{7A110051-3C2E-4B1A-9F00-5441564F0001}"
PELLUCID_INTERFACE = "{5E200110-77A1-4C3D-8E21-50454C4C0001}"
ASD_CLASSES = ("{CF2524C0-29AE-11CF-97EA-00AA0034319D}", "{9B4E7760-3196-11CF-97EA-00AA0034319D}")
CCS = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet"
OEM_NAME = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Setup\\SetupX\\INF\\OEM Name"


class Machine:
    """A registry image as {key path: {value name: (kind, data)}} plus the drive's files."""

    def __init__(self):
        self.keys = {}
        self.files = {}

    def key(self, path, **values):
        parts = path.split("\\")
        for depth in range(1, len(parts) + 1):
            self.keys.setdefault("\\".join(parts[:depth]), {})
        entry = self.keys[path]
        for name, data in values.items():
            entry[name.replace("__", " ")] = data
        return entry

    def value(self, path, name, data):
        self.key(path)[name] = data

    def file(self, win_path, data):
        self.files[win_path] = data


def fake_binary(name, role):
    """A small stand-in for a driver file: an MZ header and a line saying what it stands for."""
    text = " sample machine file %s: %s\r\n" % (name, role)
    return b"MZ\x90\x00" + text.encode("cp1252") + bytes(range(64))


def inf(provider_line, strings, klass="USB", comment=""):
    lines = []
    if comment:
        lines.append("; " + comment)
    lines += ["[Version]", 'Signature="$CHICAGO$"', "Class=" + klass, provider_line, ""]
    lines += ["[Manufacturer]", "%Mfg%=Models", "", "[Models]", "%Dev.DeviceDesc%=Dev.Install,USB\\VID_0000", ""]
    lines += ["[Strings]"] + strings + [""]
    return "\r\n".join(lines).encode("cp1252")


# ---- the image's common parts -----------------------------------------------------------------

def base_system(m, minor):
    """Root hub, a hub, a mouse, the usual ports and monitors, as a fresh install has them."""
    usb = CCS + "\\Services\\Class\\USB"
    m.key(usb, **{"": ("sz", "Contrôleur de bus USB"), "Class": ("sz", "USB"), "Icon": ("sz", "-20")})
    m.key(usb + "\\0000", DriverDesc=("sz", "Concentrateur USB racine"), DevLoader=("sz", "*ntkern"),
          NTMPDriver=("sz", "usbhub.sys"), ProviderName=("sz", "Microsoft"), InfPath=("sz", "USB.INF"))
    m.key(usb + "\\0001", DriverDesc=("sz", "Hôte USB universel Intel 82371AB/EB PCI vers USB"),
          DevLoader=("sz", "*ntkern"), NTMPDriver=("sz", "uhcd.sys"), ProviderName=("sz", "Microsoft"))
    m.key(usb + "\\0002", DriverDesc=("sz", "Concentrateur USB générique"), DevLoader=("sz", "*ntkern"),
          NTMPDriver=("sz", "usbhub.sys"), ProviderName=("sz", "Microsoft"))
    m.key(CCS + "\\Services\\Class\\HID", **{"": ("sz", "Périphériques d'interface utilisateur (HID)"),
                                              "Class": ("sz", "HID")})
    m.key(CCS + "\\Services\\Class\\HID\\0000", DriverDesc=("sz", "Périphérique d'interface utilisateur USB"),
          DevLoader=("sz", "*ntkern"), NTMPDriver=("sz", "hidusb.sys"))
    m.key(CCS + "\\Services\\Class\\Mouse\\0000", DriverDesc=("sz", "Souris USB HID"),
          DevLoader=("sz", "*vmouse"), ProviderName=("sz", "Microsoft"))
    m.key(CCS + "\\Services\\Class\\Printer")
    m.key(CCS + "\\Control\\Print\\Monitors\\Local Port", Driver=("sz", "localmon.dll"))
    m.key(CCS + "\\Control\\Print\\Ports\\LPT1:", Description=("sz", "Port imprimante (LPT1)"))
    m.key(CCS + "\\Control\\Print\\Ports\\COM1:", Description=("sz", "Port de communication (COM1)"))
    m.key(CCS + "\\Control\\Print\\Ports\\FILE:", Description=("sz", "Fichier"))
    m.key(CCS + "\\Control\\ASD\\Prob\\" + ASD_CLASSES[0],
          **{"PCI\\VEN_8086&DEV_7112\\BUS_00&DEV_07&FUNC_20": ("hex", "01,00,00,00")})
    m.key(CCS + "\\Control\\ASD\\Prob\\" + ASD_CLASSES[1])
    m.key("HKEY_LOCAL_MACHINE\\Enum\\ROOT\\*PNP0A03\\0000", DeviceDesc=("sz", "Bus PCI"), Class=("sz", "System"))
    m.key("HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_8086&DEV_7112\\BUS_00&DEV_07&FUNC_20",
          DeviceDesc=("sz", "Hôte USB universel Intel 82371AB/EB PCI vers USB"), Class=("sz", "USB"),
          Driver=("sz", "USB\\0001"))
    m.key("HKEY_LOCAL_MACHINE\\Enum\\USB\\ROOT_HUB\\PCI&VEN_8086&DEV_7112&BUS_00&DEV_07&FUNC_20",
          DeviceDesc=("sz", "Concentrateur USB racine"), Class=("sz", "USB"), Driver=("sz", "USB\\0000"))
    m.key("HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_2F10&PID_0801\\5&2B0E44&0&1",
          DeviceDesc=("sz", "Concentrateur USB générique"), Class=("sz", "USB"), Driver=("sz", "USB\\0002"))
    m.key("HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_3C1D&PID_0A12\\5&2B0E44&0&2",
          DeviceDesc=("sz", "Périphérique d'interface utilisateur USB"), Class=("sz", "HID"),
          Driver=("sz", "HID\\0000"))
    m.key("HKEY_LOCAL_MACHINE\\Enum\\HID\\VID_3C1D&PID_0A12\\6&11F0A2C&0&0000",
          DeviceDesc=("sz", "Souris USB HID"), Class=("sz", "Mouse"), Driver=("sz", "Mouse\\0000"))
    m.key("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion",
          ProductName=("sz", "Microsoft Windows 98" if minor == 10 else "Microsoft Windows ME"),
          VersionNumber=("sz", "4.10.2222" if minor == 10 else "4.90.3000"),
          SystemRoot=("sz", "C:\\WINDOWS"))
    m.key(OEM_NAME)
    dyn = "HKEY_DYN_DATA\\Config Manager\\Enum"
    m.key(dyn + "\\C1A2B3C0", HardWareKey=("sz", "ROOT\\*PNP0A03\\0000"), Status=("hex", "00,00,00,00"),
          Problem=("hex", "00,00,00,00"))
    m.key(dyn + "\\C1A2B410", HardWareKey=("sz", "PCI\\VEN_8086&DEV_7112\\BUS_00&DEV_07&FUNC_20"),
          Status=("hex", "00,00,00,00"), Problem=("hex", "00,00,00,00"))
    m.key(dyn + "\\C1A2B4F0", HardWareKey=("sz", "USB\\ROOT_HUB\\PCI&VEN_8086&DEV_7112&BUS_00&DEV_07&FUNC_20"),
          Status=("hex", "00,00,00,00"), Problem=("hex", "00,00,00,00"))
    m.key(dyn + "\\C1A2B6A0", HardWareKey=("sz", "USB\\VID_2F10&PID_0801\\5&2B0E44&0&1"),
          Status=("hex", "00,00,00,00"), Problem=("hex", "00,00,00,00"))
    m.key(dyn + "\\C1A2B7C0", HardWareKey=("sz", "USB\\VID_3C1D&PID_0A12\\5&2B0E44&0&2"),
          Status=("hex", "00,00,00,00"), Problem=("hex", "00,00,00,00"))
    m.key("HKEY_DYN_DATA\\PerfStats\\StatData")
    system = "C:\\WINDOWS\\SYSTEM\\"
    for name, role in (("USBHUB.SYS", "hub driver"), ("UHCD.SYS", "host controller driver"),
                       ("HIDUSB.SYS", "HID driver"), ("LOCALMON.DLL", "local port monitor"),
                       ("KERNEL32.DLL", "system library")):
        m.file(system + name, fake_binary(name, role))
    m.file("C:\\WINDOWS\\WIN.INI", b"[windows]\r\nload=\r\nrun=\r\n\r\n[Desktop]\r\nWallpaper=(aucun)\r\n")
    m.file("C:\\WINDOWS\\INF\\USB.INF", inf("Provider=%Msft%", ['Msft="Microsoft"']))
    m.file("C:\\WINDOWS\\INF\\MSPRINT.INF", inf("Provider=%Msft%", ['Msft="Microsoft"'], klass="Printer"))


def pellucid_printer(m, connected=True):
    """Another maker's USB printer with its own driver node, port, monitor, interface and files."""
    node = CCS + "\\Services\\Class\\USB\\0003"
    m.key(node, DriverDesc=("sz", "Pellucid USB Printer Port"), DevLoader=("sz", "*ntkern"),
          NTKXDriver=("sz", "PQUSBPRN.SYS"), ProviderName=("sz", "Pellucid"), ID=("sz", "VID_5E20&PID_0110"),
          DeviceKey=("sz", "5&1F2A3B&0&3"), FriendlyName=("sz", "PUSB001"), InfPath=("sz", "OEM1.INF"))
    instance = "HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_5E20&PID_0110\\5&1F2A3B&0&3"
    m.key(instance, DeviceDesc=("sz", "Pellucid P20 USB"), Class=("sz", "USB"), Driver=("sz", "USB\\0003"),
          idPrinterPNP=("sz", "PELLP20"),
          SymbolicName=("sz", "\\\\.\\USB#VID_5E20&PID_0110#5&1F2A3B&0&3#" + PELLUCID_INTERFACE))
    lpt = "LPTENUM\\PELLP20\\PELLP20USB&VID_5E20&PID_01105&1F2A3B&0&3"
    m.key("HKEY_LOCAL_MACHINE\\Enum\\" + lpt, DeviceDesc=("sz", "Pellucid P20"), Class=("sz", "Printer"),
          Driver=("sz", "Printer\\0000"))
    m.key(CCS + "\\Services\\Class\\Printer\\0000", DriverDesc=("sz", "Pellucid P20"),
          ProviderName=("sz", "Pellucid"))
    m.key(CCS + "\\Control\\Print\\Ports\\PUSB001", Description=("sz", "Port USB Pellucid"))
    m.key(CCS + "\\Control\\Print\\Monitors\\Pellucid USB Monitor", Driver=("sz", "PQMON.DLL"))
    m.key(CCS + "\\Control\\DeviceClasses\\" + PELLUCID_INTERFACE + "\\##.#USB#VID_5E20&PID_0110#5&1F2A3B&0&3#"
          + PELLUCID_INTERFACE, DeviceInstance=("sz", "USB\\VID_5E20&PID_0110\\5&1F2A3B&0&3"))
    m.value(CCS + "\\Control\\ASD\\Prob\\" + ASD_CLASSES[0], lpt, ("hex", "01,00,00,00"))
    m.value(CCS + "\\Control\\ASD\\Prob\\" + ASD_CLASSES[1], "USB\\VID_5E20&PID_0110\\5&1F2A3B&0&3",
            ("hex", "02,00,00,00"))
    m.key("HKEY_LOCAL_MACHINE\\Software\\Pellucid\\USB\\Monitor", Version=("sz", "2.01"))
    if connected:
        m.key("HKEY_DYN_DATA\\Config Manager\\Enum\\C1A2B8E0",
              HardWareKey=("sz", "USB\\VID_5E20&PID_0110\\5&1F2A3B&0&3"), Status=("hex", "00,00,00,00"),
              Problem=("hex", "00,00,00,00"))
    system = "C:\\WINDOWS\\SYSTEM\\"
    m.file(system + "PQUSBPRN.SYS", fake_binary("PQUSBPRN.SYS", "another maker's printer driver"))
    m.file(system + "PQMON.DLL", fake_binary("PQMON.DLL", "another maker's port monitor"))
    # Near misses of the package's INF names: same prefixes, another provider.
    m.file("C:\\WINDOWS\\INF\\OTHER\\PellucidRWQP20.INF",
           inf("Provider=%Mfg%", ['Mfg="Pellucid"'], comment="Pellucid P20 USB"))
    m.file("C:\\WINDOWS\\INF\\RWQP20.INF", inf("Provider=%Mfg%", ['Mfg="Pellucid"']))
    m.file("C:\\WINDOWS\\INF\\ZNKPELL.INF", inf("Provider=Pellucid", [], klass="Printer"))
    m.value(OEM_NAME, "C:\\WINDOWS\\INF\\OTHER\\PellucidRWQP20.INF", ("sz", "OEM1.INF"))


# ---- the package ----------------------------------------------------------------------------

def package_common(m):
    """What the package installs once, whatever the number of printers."""
    m.key(CCS + "\\Control\\Print\\Monitors\\KXUSBMON", Driver=("sz", "KXUSBMON.DLL"))
    m.key("HKEY_LOCAL_MACHINE\\Software\\VRAX\\USB\\BDPM", Version=("sz", "1.20"), Language=("sz", "FRA"))
    m.key("HKEY_LOCAL_MACHINE\\Software\\Moravent2\\USB\\BDPM", Port=("sz", "TUSB001"),
          Bidirectional=("dword", 1))
    system = "C:\\WINDOWS\\SYSTEM\\"
    m.file(system + "KXUSBPRT.SYS", fake_binary("KXUSBPRT.SYS", "the package's USB printer driver"))
    m.file(system + "KXUSBMON.DLL", fake_binary("KXUSBMON.DLL", "the package's port monitor"))
    m.file(system + "KXUSBADD.DLL", fake_binary("KXUSBADD.DLL", "the package's add-on library"))
    m.file("C:\\WINDOWS\\INF\\OTHER\\TalvoRWQUSB.INF",
           inf("Provider=%Mfg%", ['Mfg="Talvo"', 'Dev.DeviceDesc="Imprimante USB Talvo"'],
               comment="Talvo USB printer support"))
    m.file("C:\\WINDOWS\\INF\\RWQUSB.INF", inf("Provider=%Mfg%", ['Mfg="Talvo"']))
    m.file("C:\\WINDOWS\\INF\\ZNKMON.INF", inf("Provider=Talvo ; port monitor", []))
    m.value(OEM_NAME, "C:\\WINDOWS\\INF\\OTHER\\TalvoRWQUSB.INF", ("sz", "OEM0.INF"))


def package_printer(m, node, device_id, device_key, friendly, pnp, lpt_key_part, connected=False,
                    configured=True, interface=PRINTER_INTERFACE):
    """One printer of the package: driver node, device instance, LPTENUM printer, port, ASD\\Prob
    entries, interface class, and the dynamic data entry when it is connected."""
    m.key(CCS + "\\Services\\Class\\USB\\" + node, DriverDesc=("sz", "Talvo USB Printing Support"),
          DevLoader=("sz", "*ntkern"), NTKXDriver=("sz", "KXUSBPRT.SYS"), ProviderName=("sz", "Talvo"),
          ID=("sz", device_id), DeviceKey=("sz", device_key), FriendlyName=("sz", friendly),
          InfPath=("sz", "OEM0.INF"), DriverDate=("sz", "3-14-2001"))
    usb_name = "USB\\%s\\%s" % (device_id, device_key)
    hash_name = "USB#%s#%s#%s" % (device_id, device_key, interface)
    m.key("HKEY_LOCAL_MACHINE\\Enum\\" + usb_name, DeviceDesc=("sz", "Imprimante USB Talvo"),
          Class=("sz", "USB"), Driver=("sz", "USB\\" + node), Mfg=("sz", "Talvo"),
          idPrinterPNP=("sz", pnp), SymbolicName=("sz", "\\\\.\\" + hash_name))
    lpt = "LPTENUM\\%s\\%sUSB&%s%s" % (pnp, pnp, device_id, lpt_key_part)
    if configured:
        m.key("HKEY_LOCAL_MACHINE\\Enum\\" + lpt, DeviceDesc=("sz", "Talvo " + pnp[5:]),
              Class=("sz", "Printer"), PortName=("sz", friendly))
    m.key(CCS + "\\Control\\Print\\Ports\\" + friendly, Description=("sz", "Port USB Talvo"))
    m.key(CCS + "\\Control\\DeviceClasses\\%s\\##.#%s" % (interface, hash_name),
          DeviceInstance=("sz", usb_name))
    m.value(CCS + "\\Control\\ASD\\Prob\\" + ASD_CLASSES[0], lpt, ("hex", "01,00,00,00"))
    m.value(CCS + "\\Control\\ASD\\Prob\\" + ASD_CLASSES[0], usb_name, ("hex", "01,00,00,00"))
    m.value(CCS + "\\Control\\ASD\\Prob\\" + ASD_CLASSES[1], usb_name, ("hex", "02,00,00,00"))
    if connected:
        m.key("HKEY_DYN_DATA\\Config Manager\\Enum\\C1A2BA10", HardWareKey=("sz", usb_name),
              Status=("hex", "00,00,00,00"), Problem=("hex", "00,00,00,00"))


# ---- the machines ---------------------------------------------------------------------------

def package_machine(minor):
    """A fresh install of the given Windows form with another maker's printer and the package."""
    m = Machine()
    base_system(m, minor)
    pellucid_printer(m)
    package_common(m)
    return m


def device_key_tail(device_key, skip):
    """The device key from its third '&' plus skip, as the program names the instance forms."""
    return device_key[[i for i, c in enumerate(device_key) if c == "&"][2] + skip:]


def win98():
    m = package_machine(10)
    package_printer(m, "0004", "VID_7A11&PID_0042", "5&3A7B1C2&0&2", "TUSB001", "TALVOP1000", "5&3A7B1C2&0&2")
    m.file("C:\\WINDOWS\\WININIT.INI",
           b"; written by a setup program\r\n[rename]\r\nNUL=C:\\WINDOWS\\TEMP\\~GLH0001.TMP\r\n")
    return m, "yes,no,no\n", ""


def winme():
    m = package_machine(90)
    # An ID with a third part: the device also has a short-ID instance under Enum\USB\<VID&PID>,
    # named from the device key's tail just after its third '&' (Windows ME: position + 2).
    device_key = "6&2B3C4D5E&0&10001"
    tail = device_key_tail(device_key, 2)
    package_printer(m, "0004", "VID_7A11&PID_0051&REV_0100", device_key, "TUSB001", "TALVOP2000", tail)
    # The short-ID instance is named from just after the third '&', on both forms.
    short_tail = device_key_tail(device_key, 1)
    short = "HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_7A11&PID_0051\\" + short_tail
    hash_name = "USB#VID_7A11&PID_0051#%s#%s" % (short_tail, TALVO_SHORT_INTERFACE)
    m.key(short, DeviceDesc=("sz", "Périphérique USB composite Talvo"), Class=("sz", "USB"),
          SymbolicName=("sz", "\\\\.\\" + hash_name))
    m.key(CCS + "\\Control\\DeviceClasses\\%s\\##.#%s" % (TALVO_SHORT_INTERFACE, hash_name),
          DeviceInstance=("sz", "USB\\VID_7A11&PID_0051\\" + short_tail))
    package_printer(m, "0005", "VID_7A11&PID_0042", "5&3A7B1C2&0&4", "TUSB002", "TALVOP1000", "5&3A7B1C2&0&4")
    return m, "yes,no,no\n", "--os me\n--in-use C:\\WINDOWS\\SYSTEM\\KXUSBPRT.SYS\n"


def connected():
    m = package_machine(10)
    package_printer(m, "0004", "VID_7A11&PID_0042", "5&3A7B1C2&0&2", "TUSB001", "TALVOP1000", "5&3A7B1C2&0&2",
                    connected=True)
    return m, "yes\n", ""


# ---- writing --------------------------------------------------------------------------------

def order(name):
    # The NT family compares key and value names upper-cased.
    return name.upper()


def quote(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def value_line(name, kind, data):
    head = "@" if name == "" else quote(name)
    if kind == "sz":
        return head + "=" + quote(data)
    if kind == "dword":
        return head + "=dword:%08x" % data
    return head + "=hex:" + data


def registry_text(m):
    children = {}
    for path in m.keys:
        parent, _, leaf = path.rpartition("\\")
        children.setdefault(parent, []).append(path)
    lines = ["REGEDIT4", ""]

    def walk(path):
        lines.append("[" + path + "]")
        values = m.keys[path]
        for name in sorted(values, key=order):
            kind, data = values[name]
            lines.append(value_line(name, kind, data))
        lines.append("")
        for child in sorted(children.get(path, []), key=lambda p: order(p.rpartition("\\")[2])):
            walk(child)

    for root in ("HKEY_LOCAL_MACHINE", "HKEY_DYN_DATA"):
        for top in sorted(children.get(root, []), key=order):
            walk(top)
    return ("\r\n".join(lines) + "\r\n").encode("cp1252")


def write_image(folder, m, answers, options):
    os.makedirs(folder)
    with open(os.path.join(folder, "registry.reg"), "wb") as out:
        out.write(registry_text(m))
    for win_path, data in m.files.items():
        host = os.path.join(folder, "drive", *win_path[3:].split("\\"))
        os.makedirs(os.path.dirname(host), exist_ok=True)
        with open(host, "wb") as out:
            out.write(data)
    with open(os.path.join(folder, "answers.txt"), "w") as out:
        out.write(answers)
    if options:
        with open(os.path.join(folder, "options.txt"), "w") as out:
            out.write(options)


def tree(folder):
    found = {}
    for base, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(base, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, folder)] = f.read()
    return found


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    check = "--check" in sys.argv[1:]
    machines = {"win98": win98, "winme": winme, "connected": connected}
    stale = []
    with tempfile.TemporaryDirectory() as scratch:
        for name, build in machines.items():
            fresh = os.path.join(scratch, name)
            write_image(fresh, *build())
            target = os.path.join(here, name)
            if check:
                if not os.path.isdir(target) or tree(fresh) != tree(target):
                    stale.append(name)
                continue
            shutil.rmtree(target, ignore_errors=True)
            shutil.copytree(fresh, target)
    if stale:
        print("stale sample images (run samples/make-samples.py): " + ", ".join(stale), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
