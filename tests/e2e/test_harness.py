"""Checks of the harness's own judgement, on made-up driver results: a check that cannot fail
would let a broken stub pass. Runs without Wine."""

import struct
import unittest

from archive import BLOCK_SIZE, RECORD_SIZE, file_name, item_count, with_file_name
from checks import centred_display, message_box
from scenario import differs, quote

INFO = {"fullscreen_w": 1024, "fullscreen_h": 779}
OFF = (-1000, -1000)
MID = ((1024 - 310) // 2, (779 - 100) // 2)


def run(place, first, last, visible=True, size=(310, 100)):
    return {"x": place[0], "y": place[1], "w": size[0], "h": size[1], "visible": visible,
            "first": first, "last": last}


def exit_result(*runs, gone=None):
    watch = {"runs": list(runs), "samples": 100}
    if gone is not None:
        watch["gone"] = gone
    return {"exit_code": 0, "seen": [], "watch": watch}


class CentredDisplayTest(unittest.TestCase):
    check = staticmethod(centred_display(310, 100, 1500))

    def test_passes_a_display_of_the_minimum_time(self):
        result = exit_result(run(OFF, 0, 100), run(MID, 102, 1600), run(OFF, 1603, 1700),
                             run(OFF, 1702, 1710, visible=False), gone=1712)
        self.assertEqual(self.check(result, INFO), [])

    def test_fails_a_display_that_is_too_short(self):
        result = exit_result(run(OFF, 0, 100), run(MID, 102, 1200), run(OFF, 1203, 1300))
        self.assertIn("at most 1103 ms", " ".join(self.check(result, INFO)))

    def test_fails_coarse_sampling_instead_of_guessing(self):
        result = exit_result(run(OFF, 0, 100), run(MID, 600, 1000), run(OFF, 1700, 1800))
        self.assertIn("too coarse", " ".join(self.check(result, INFO)))

    def test_fails_a_window_that_is_off_centre_or_never_leaves(self):
        wrong = exit_result(run(OFF, 0, 100), run((MID[0], MID[1] + 10), 102, 1700),
                            run(OFF, 1702, 1800))
        self.assertIn("positions", " ".join(self.check(wrong, INFO)))
        stays = exit_result(run(OFF, 0, 100), run(MID, 102, 1700), gone=1702)
        self.assertIn("positions", " ".join(self.check(stays, INFO)))

    def test_a_window_destroyed_right_after_leaving_may_be_missed_only_when_allowed(self):
        lenient = centred_display(310, 100, 1500, must_return=False)
        ends = exit_result(run(OFF, 0, 100), run(MID, 102, 1700),
                           run(MID, 1702, 1702, visible=False), gone=1703)
        self.assertEqual(lenient(ends, INFO), [])
        short = exit_result(run(OFF, 0, 100), run(MID, 102, 900), gone=902)
        self.assertNotEqual(lenient(short, INFO), [])

    def test_fails_a_wrong_size_or_a_hidden_spell(self):
        resized = exit_result(run(OFF, 0, 100), run(MID, 102, 1700, size=(300, 100)),
                              run(OFF, 1702, 1800))
        self.assertIn("sizes", " ".join(self.check(resized, INFO)))
        hidden = exit_result(run(OFF, 0, 100, visible=False), run(MID, 102, 1700),
                             run(OFF, 1702, 1800))
        self.assertIn("hidden", " ".join(self.check(hidden, INFO)))


class MessageBoxTest(unittest.TestCase):
    def box(self, title, text, buttons):
        children = [{"id": 65535, "class": "Static", "text": text, "visible": True}]
        children += [{"id": i, "class": "Button", "text": t, "visible": True}
                     for i, t in buttons.items()]
        return {"window": {"title": title, "class": "#32770", "rect": {"w": 200, "h": 100},
                           "children": children}}

    def test_judges_caption_text_and_the_exact_buttons(self):
        check = message_box("Error", "Cannot locate header.", {1: "OK"})
        self.assertEqual(check(self.box("Error", "Cannot locate header.", {1: "OK"}), INFO), [])
        self.assertEqual(len(check(self.box("Fehler", "Cannot locate header.", {1: "OK"}),
                                   INFO)), 1)
        self.assertEqual(len(check(self.box("Error", "Cannot load header.", {1: "OK"}), INFO)), 1)
        self.assertEqual(len(check(self.box("Error", "Cannot locate header.",
                                            {1: "OK", 2: "Cancel"}), INFO)), 1)


class ArchiveHeaderTest(unittest.TestCase):
    def test_renames_one_item_and_keeps_the_rest(self):
        header = bytearray(BLOCK_SIZE + 2 * RECORD_SIZE + 1)
        struct.pack_into("<H", header, 12, 2)
        for i, name in enumerate([b"a.txt", b"b.txt"]):
            at = BLOCK_SIZE + RECORD_SIZE * i
            header[at:at + len(name)] = name
            header[at + 32:at + 32 + len(name)] = name
            header[at + 77:at + 81] = struct.pack("<I", 1000 + i)
        out = with_file_name(bytes(header), 1, b"..\\x")
        self.assertEqual(item_count(out), 2)
        self.assertEqual([file_name(out, 0), file_name(out, 1)], [b"a.txt", b"..\\x"])
        self.assertEqual(out[BLOCK_SIZE + RECORD_SIZE:BLOCK_SIZE + RECORD_SIZE + 4], b"..\\x")
        self.assertEqual(out[BLOCK_SIZE + RECORD_SIZE + 64:], header[BLOCK_SIZE + RECORD_SIZE + 64:])
        self.assertEqual(file_name(with_file_name(out, 0, b""), 0), b"")
        with self.assertRaises(IndexError):
            with_file_name(out, 2, b"c")


class ScriptTest(unittest.TestCase):
    def test_quotes_what_the_driver_unquotes(self):
        self.assertEqual(quote('C:\\a "b"\n'), '"C:\\\\a \\"b\\"\\n"')

    def test_compares_bytes_or_by_predicate(self):
        self.assertEqual(differs(b"abc", b"abc"), "")
        self.assertNotEqual(differs(b"abc", b"abd"), "")
        self.assertEqual(differs(b"x\\Desktop", lambda d: d.endswith(b"\\Desktop")), "")
        self.assertNotEqual(differs(b"x", lambda d: False), "")


if __name__ == "__main__":
    unittest.main()
