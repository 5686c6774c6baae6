#!/usr/bin/env python3
"""The comparison of the end-to-end runs must catch what it is there to catch: a comparison that
lets a wrong run through would make the Wine runs prove nothing."""
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import compare  # noqa: E402

IMAGE = (b'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Enum]\r\n\r\n[HKEY_LOCAL_MACHINE\\Enum\\USB]\r\n'
         b'"Driver"="USB\\\\0001"\r\n"Long"=hex:00,01,\\\r\n  02\r\n@="default"\r\n\r\n'
         b'[HKEY_LOCAL_MACHINE\\Prob]\r\n"USB\\\\B"=hex:01\r\n"LPT\\\\A"=hex:01\r\n\r\n'
         b'[HKEY_LOCAL_MACHINE\\Sorted]\r\n"A"=hex:01\r\n"b"=hex:01\r\n\r\n'
         b'[HKEY_DYN_DATA\\Config Manager]\r\n\r\n')


def image(text):
    return compare.parse_image(text)


class ParseTest(unittest.TestCase):
    def test_keys_values_and_continuations(self):
        keys = image(IMAGE)
        self.assertEqual(sorted(compare.top_keys(keys)),
                         [b"HKEY_DYN_DATA\\Config Manager", b"HKEY_LOCAL_MACHINE\\Enum",
                          b"HKEY_LOCAL_MACHINE\\Prob", b"HKEY_LOCAL_MACHINE\\Sorted"])
        values = keys[b"hkey_local_machine\\enum\\usb"][1]
        self.assertEqual(values[b"driver"], (b"Driver", b'"USB\\\\0001"'))
        self.assertEqual(values[b"long"][1], b"hex:00,01,02")
        self.assertEqual(values[None], (None, b'"default"'))

    def test_refuses_an_image_without_its_header(self):
        with self.assertRaises(ValueError):
            image(b"[HKEY_LOCAL_MACHINE\\X]\r\n")

    def test_an_image_of_value_keys_implies_their_parents(self):
        keys = compare.with_parents(image(b'REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\VRAX\\USB]\r\n"A"="1"\r\n'
                                          b'[HKEY_DYN_DATA\\Config Manager\\Enum\\C1]\r\n"B"="2"\r\n'))
        self.assertEqual(sorted(keys), [
            b"hkey_dyn_data\\config manager", b"hkey_dyn_data\\config manager\\enum",
            b"hkey_dyn_data\\config manager\\enum\\c1", b"hkey_local_machine\\software",
            b"hkey_local_machine\\software\\vrax", b"hkey_local_machine\\software\\vrax\\usb"])
        self.assertEqual(sorted(compare.top_keys(keys)),
                         [b"HKEY_DYN_DATA\\Config Manager", b"HKEY_LOCAL_MACHINE\\Software"])

    def test_wine_order_puts_keys_and_values_in_the_order_wine_enumerates_them(self):
        # Wine compares names in upper case: '_' sorts after the letters, not before them.
        text = (b'REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\S\\b\\Z]\r\n"v_2"=hex:01\r\n"V1"="x"\r\n@="d"\r\n'
                b'[HKEY_LOCAL_MACHINE\\S\\A_B]\r\n[HKEY_LOCAL_MACHINE\\S\\AB]\r\n"Q\\"uote\\\\"=dword:00000001\r\n')
        ordered = compare.wine_order(compare.with_parents(image(text)))
        self.assertEqual(ordered.split(b"\r\n"), [
            b"REGEDIT4", b"", b"[HKEY_LOCAL_MACHINE\\S]", b"",
            b"[HKEY_LOCAL_MACHINE\\S\\AB]", b'"Q\\"uote\\\\"=dword:00000001', b"",
            b"[HKEY_LOCAL_MACHINE\\S\\A_B]", b"",
            b"[HKEY_LOCAL_MACHINE\\S\\b]", b"",
            b"[HKEY_LOCAL_MACHINE\\S\\b\\Z]", b'@="d"', b'"V1"="x"', b'"v_2"=hex:01', b"", b""])


class RegistryTest(unittest.TestCase):
    def check(self, wine, sim):
        problems = []
        compare.check_registry(image(IMAGE), image(wine), image(sim), problems)
        return problems

    def test_equal_runs_pass_and_wine_own_keys_and_values_are_ignored(self):
        wine = IMAGE + b'[HKEY_LOCAL_MACHINE\\Enum\\USB]\r\n"WineOwn"="x"\r\n\r\n[HKEY_LOCAL_MACHINE\\Wine]\r\n\r\n'
        self.assertEqual(self.check(wine, IMAGE), [])

    def test_a_key_left_under_wine_is_caught(self):
        sim = IMAGE.replace(b'[HKEY_LOCAL_MACHINE\\Sorted]\r\n"A"=hex:01\r\n"b"=hex:01\r\n\r\n', b"")
        problems = self.check(IMAGE, sim)
        self.assertEqual(len(problems), 1)
        self.assertIn("Wine kept [HKEY_LOCAL_MACHINE\\Sorted]", problems[0])

    def test_a_value_removed_or_changed_under_wine_is_caught(self):
        wine = IMAGE.replace(b'"LPT\\\\A"=hex:01\r\n', b"").replace(b'"USB\\\\0001"', b'"USB\\\\0002"')
        problems = self.check(wine, IMAGE)
        self.assertEqual(len(problems), 2)

    def test_a_key_name_differing_in_case_only_is_the_same_key(self):
        self.assertEqual(self.check(IMAGE.replace(b"\\Enum\\USB]", b"\\ENUM\\usb]"), IMAGE), [])

    def test_an_implied_parent_left_on_one_side_is_caught(self):
        leaves = image(b'REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\VRAX\\USB]\r\n"A"="1"\r\n')
        sim = image(b"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n")
        wine = image(b"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n[HKEY_LOCAL_MACHINE\\Software\\VRAX]\r\n")
        problems = []
        compare.check_registry(compare.with_parents(leaves), wine, sim, problems)
        self.assertEqual(problems, ["registry: Wine kept [HKEY_LOCAL_MACHINE\\Software\\VRAX], the simulation did not"])


class BoxesTest(unittest.TestCase):
    LOG = "box 1 2 answer 6 [Caption] Text (yes/no)\nbox 2 6 answer 1 UNEXPECTED [Other] Notice (ok)\n"

    def test_the_boxes_wine_showed_must_be_those_of_the_simulation(self):
        dialogs = [{"caption": "Caption", "text": "Text"}, {"caption": "Other", "text": "Notice"}]
        problems = []
        compare.check_boxes(self.LOG, dialogs, problems)
        self.assertEqual(problems, [])
        compare.check_boxes(self.LOG + "box 3: none came, expected 8\n", dialogs[:1], problems)
        self.assertEqual(len(problems), 1)


class TraceTest(unittest.TestCase):
    def check(self, wine, sim):
        problems = []
        compare.check_trace(wine, sim, problems)
        return problems

    def test_wine_directories_map_onto_the_simulation_ones(self):
        wine = b" GetSystemDirectory <C:\\windows\\system32> result 0\n Deleting File <C:\\windows\\INF\\A.INF> result 0\n"
        sim = b" GetSystemDirectory <C:\\WINDOWS\\SYSTEM> result 0\n Deleting File <C:\\WINDOWS\\INF\\A.INF> result 0\n"
        self.assertEqual(self.check(wine, sim), [])

    def test_any_other_difference_and_a_missing_line_are_caught(self):
        # The value index too: the simulation reads the registry in Wine's order.
        closing = b" Closing key <P> %d fields result 0\n"
        self.assertEqual(len(self.check(closing % 0, closing % 1)), 1)
        self.assertEqual(len(self.check(b"a\n", b"a\nb\n")), 1)
        self.assertEqual(len(self.check(b"a\nb\n", b"a\n")), 1)
        self.assertEqual(len(self.check(b"", b"a\n")), 1)
        # A run declined at once traces nothing, on both sides.
        self.assertEqual(self.check(b"", b""), [])


class QueuedTest(unittest.TestCase):
    SESSION = b"[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Session Manager]\r\n"
    SIM = [{"file": "C:\\WINDOWS\\SYSTEM\\KXUSBPRT.SYS"}, {"file": "C:\\WINDOWS\\INF\\OTHER\\Talvo\u00c9.INF"}]
    DRIVER = b"\\??\\C:\\windows\\system32\\KXUSBPRT.SYS"

    def check(self, names, sim):
        data = b"".join(name + b"\0" for name in names) + b"\0"
        registry = self.SESSION + b'"PendingFileRenameOperations"=hex(7):' + b",".join(b"%02x" % byte for byte in data)
        problems = []
        compare.check_queued(image(b"REGEDIT4\r\n\r\n" + registry + b"\r\n"), sim, problems)
        return problems

    def test_the_files_the_simulation_queued_are_queued_under_wine(self):
        # Names in code page 1252, as the program spells them.
        inf = b"\\??\\C:\\windows\\INF\\OTHER\\Talvo\xc9.INF"
        self.assertEqual(self.check([self.DRIVER, b"", inf, b""], self.SIM), [])

    def test_a_file_missing_from_either_queue_or_renamed_is_caught(self):
        self.assertEqual(len(self.check([self.DRIVER, b""], self.SIM)), 1)
        self.assertEqual(len(self.check([self.DRIVER, b""], [])), 1)
        self.assertEqual(len(self.check([self.DRIVER, b"!\\??\\C:\\X"], self.SIM[:1])), 1)
        problems = []
        compare.check_queued(image(b"REGEDIT4\r\n\r\n" + self.SESSION), [], problems)
        self.assertEqual(problems, [])


class FilesTest(unittest.TestCase):
    IMAGE = {"WINDOWS/SYSTEM/KERNEL32.DLL": b"image", "WINDOWS/SYSTEM/GONE.SYS": b"x",
             "WINDOWS/WinInit.ini": b"[rename]"}

    def test_the_drive_left_under_wine_must_be_the_simulation_one(self):
        with tempfile.TemporaryDirectory() as root:
            machine, out = Path(root) / "machine", Path(root) / "out"
            for folder in (machine, out / "sim", out / "wine"):
                for name, data in self.IMAGE.items():
                    if folder == machine or "GONE" not in name:
                        # Under Wine the names come in another case, and KERNEL32.DLL is Wine's own.
                        if folder.name == "wine":
                            name, data = name.lower(), b"Wine's own" if "DLL" in name else data
                        (folder / "drive" / name).parent.mkdir(parents=True, exist_ok=True)
                        (folder / "drive" / name).write_bytes(data)
            seeded = [{"image": "WINDOWS/SYSTEM/KERNEL32.DLL", "own": True}]

            def check():
                problems = []
                compare.check_files(machine, out, seeded, problems)
                return problems

            self.assertEqual(check(), [])
            (out / "wine/drive/windows/wininit.ini").write_bytes(b"[rename]\r\nNUL=C:\\X")
            (out / "wine/drive/windows/system/gone.sys").write_bytes(b"x")
            (out / "sim/drive/WINDOWS/NEW.INI").write_bytes(b"")
            self.assertEqual(check(), ["files: WINDOWS/NEW.INI created in the simulation only",
                                       "files: windows/system/gone.sys kept under Wine, removed in the simulation",
                                       "files: WINDOWS/WinInit.ini differs: wine windows/wininit.ini, "
                                       "sim WINDOWS/WinInit.ini"])


if __name__ == "__main__":
    unittest.main()
