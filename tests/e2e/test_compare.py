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


class TraceTest(unittest.TestCase):
    def check(self, wine, sim):
        problems, notes = [], []
        compare.check_trace(wine, sim, image(IMAGE), problems, notes)
        return problems, notes

    def test_wine_directories_map_onto_the_simulation_ones(self):
        wine = b" GetSystemDirectory <C:\\windows\\system32> result 0\n Deleting File <C:\\windows\\INF\\A.INF> result 0\n"
        sim = b" GetSystemDirectory <C:\\WINDOWS\\SYSTEM> result 0\n Deleting File <C:\\WINDOWS\\INF\\A.INF> result 0\n"
        self.assertEqual(self.check(wine, sim), ([], []))

    def test_value_index_may_differ_only_where_wine_reorders_the_values(self):
        wine = b" Closing key <Prob> 0 fields result 0\n"
        sim = b" Closing key <Prob> 1 fields result 0\n"
        problems, notes = self.check(wine, sim)
        self.assertEqual((problems, len(notes)), ([], 1))
        problems, _ = self.check(wine.replace(b"Prob", b"Sorted"), sim.replace(b"Prob", b"Sorted"))
        self.assertEqual(len(problems), 1)
        problems, _ = self.check(wine.replace(b"result 0", b"result 2"), sim)
        self.assertEqual(len(problems), 1)

    def test_any_other_difference_and_a_missing_line_are_caught(self):
        self.assertEqual(len(self.check(b" Deleting subkey <A> result 5\n", b" Deleting subkey <A> result 0\n")[0]), 1)
        self.assertEqual(len(self.check(b"a\n", b"a\nb\n")[0]), 1)
        self.assertEqual(len(self.check(b"a\nb\n", b"a\n")[0]), 1)
        self.assertEqual(len(self.check(b"", b"a\n")[0]), 1)
        # A run declined at once traces nothing, on both sides.
        self.assertEqual(self.check(b"", b""), ([], []))


class InUseTest(unittest.TestCase):
    SESSION = b"[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Session Manager]\r\n"

    def pending(self, names):
        data = b"".join(name + b"\0" for name in names) + b"\0"
        return self.SESSION + b'"PendingFileRenameOperations"=hex(7):' + b",".join(
            b"%02x" % byte for byte in data) + b"\r\n\r\n"

    def check(self, registry, files):
        problems = []
        compare.check_in_use(["C:\\WINDOWS\\SYSTEM\\KXUSBPRT.SYS"], image(b"REGEDIT4\r\n\r\n" + registry), files, problems)
        return problems

    def test_a_queued_file_that_stayed_passes(self):
        registry = self.pending([b"\\??\\C:\\windows\\system32\\KXUSBPRT.SYS", b""])
        self.assertEqual(self.check(registry, ["system32/KXUSBPRT.SYS"]), [])

    def test_a_file_not_queued_or_deleted_is_caught(self):
        registry = self.pending([b"\\??\\C:\\windows\\system32\\OTHER.SYS", b""])
        self.assertEqual(len(self.check(registry, ["system32/KXUSBPRT.SYS"])), 1)
        self.assertEqual(len(self.check(self.SESSION, [])), 2)


class FilesTest(unittest.TestCase):
    def test_a_file_removed_on_one_side_only_is_caught(self):
        with tempfile.TemporaryDirectory() as root:
            machine, sim = Path(root) / "machine", Path(root) / "sim"
            for base in (machine, sim):
                (base / "drive/WINDOWS/SYSTEM").mkdir(parents=True)
                (base / "drive/WINDOWS/INF/OTHER").mkdir(parents=True)
            for name in ("SYSTEM/KEEP.SYS", "SYSTEM/GONE.SYS", "INF/OTHER/A.INF"):
                (machine / "drive/WINDOWS" / name).write_bytes(b"x")
            (sim / "drive/WINDOWS/SYSTEM/KEEP.SYS").write_bytes(b"x")
            problems = []
            compare.check_files(machine, sim, ["system32/keep.sys"], problems)
            self.assertEqual(problems, [])
            compare.check_files(machine, sim, ["system32/keep.sys", "inf/other/A.INF"], problems)
            self.assertEqual(len(problems), 1)
            self.assertIn("INF/OTHER/A.INF kept under Wine", problems[0])


if __name__ == "__main__":
    unittest.main()
