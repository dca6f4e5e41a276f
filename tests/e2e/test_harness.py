"""Checks of the harness's own judgement, on made-up driver results: a check that cannot fail
would let a broken stub pass. Runs without Wine."""

import contextlib
import io
import os
import struct
import tempfile
import unittest
from pathlib import Path

from archive import (BLOCK_SIZE, RECORD_SIZE, file_name, item_count, text_start, with_file_name,
                     with_item_count, with_program_path, with_stored_size)
from checks import (centred_display, information, message_box, never_on_screen,
                    never_seen, pause_between, selection, texts_fit, window)
from scenario import Runner, differs, quote, special_file, substitute

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


def dialog(x, y, children):
    rect = {"x": x, "y": y, "w": 310, "h": 100}
    return {"window": {"title": "T", "class": "#32770", "rect": rect, "children": children}}


def control(cid, text="", focus=False, style=0x50010000, sel=None, cls="Button", rect=None):
    c = {"id": cid, "class": cls, "text": text, "visible": True, "focus": focus, "style": style,
         "rect": rect}
    if sel is not None:
        c["sel"] = sel
    return c


# A dialog whose client area is 250x100 at (0, 0): text 1 above text 2, which touches it, and
# button 3 beside text 2, overlapping it by a pixel as dialog units may round.
FITTING = {"client": {"x": 0, "y": 0, "w": 250, "h": 100}, "fit": [],
           "window": {"children": [control(1, rect={"x": 10, "y": 10, "w": 230, "h": 20}),
                                   control(2, rect={"x": 10, "y": 30, "w": 150, "h": 60}),
                                   control(3, rect={"x": 159, "y": 60, "w": 75, "h": 21})]}}


def fit(cid, w, h, room_w, room_h, x, y, button=False):
    """A `fit` entry: text size, control room, and where the text lies."""
    return {"id": cid, "text": "t", "button": button, "w": w, "h": h, "room_w": room_w,
            "room_h": room_h, "at": {"x": x, "y": y}}


class WindowCheckTest(unittest.TestCase):
    def test_judges_the_place_the_focus_and_the_default_button(self):
        check = window(centred=True, focus=6, default=6)
        good = dialog(*MID, [control(6, focus=True, style=0x50010001), control(7)])
        self.assertEqual(check(good, INFO), [])
        self.assertEqual(len(check(dialog(MID[0] + 1, MID[1], good["window"]["children"]),
                                   INFO)), 1)
        wrong_focus = dialog(*MID, [control(6, style=0x50010001), control(7, focus=True)])
        self.assertEqual(len(check(wrong_focus, INFO)), 1)
        no_default = dialog(*MID, [control(6, focus=True), control(7, style=0x50010001)])
        self.assertEqual(len(check(no_default, INFO)), 1)

    def test_expected_texts_name_the_run_folder(self):
        check = window(texts={10: "in {run}\\dest"})
        info = {**INFO, "run": "Z:\\r"}
        self.assertEqual(check(dialog(0, 0, [control(10, "in Z:\\r\\dest")]), info), [])
        self.assertEqual(len(check(dialog(0, 0, [control(10, "in {run}\\dest")]), info)), 1)

    def test_information_expands_backslash_n_after_naming_the_run_folder(self):
        check = information("start {run}\\setup.exe")
        box = {"window": {"title": "Information", "class": "#32770", "rect": {"w": 1, "h": 1},
                          "children": [control(65535, "start Z:\r\n\\setup.exe", cls="Static"),
                                       control(1, "OK")]}}
        self.assertEqual(check(box, {**INFO, "run": "Z:\\n"}), [])
        self.assertEqual(len(check(box, {**INFO, "run": "Z:\\m"})), 1)

    def test_judges_the_selection(self):
        field = dialog(0, 0, [control(11, "wrong", cls="Edit", sel=[0, 5])])
        self.assertEqual(selection(11, 0, 5)(field, INFO), [])
        self.assertEqual(len(selection(11, 0, 4)(field, INFO)), 1)
        self.assertEqual(len(selection(12, 0, 5)(field, INFO)), 1)


    def test_a_text_fits_its_control_and_a_caption_its_button_inside_the_frame(self):
        fitting = {**FITTING, "fit": [fit(1, 228, 13, 228, 15, 10, 10),
                                      fit(3, 69, 13, 75, 21, 170, 64, button=True)]}
        self.assertEqual(texts_fit()(fitting, INFO), [])
        for cut in (fit(1, 229, 13, 228, 15, 10, 10), fit(1, 213, 18, 229, 15, 10, 10),
                    fit(3, 70, 13, 75, 21, 170, 64, button=True),
                    fit(3, 40, 22, 75, 21, 170, 64, button=True)):
            self.assertEqual(len(texts_fit()({**FITTING, "fit": [cut]}, INFO)), 1, cut)

    def test_no_text_reaches_out_of_the_client_area_or_under_another_control(self):
        for misplaced in (fit(1, 100, 22, 230, 25, 10, 10),  # under control 2 below it
                          fit(1, 20, 12, 230, 20, 245, 10),  # past the right edge
                          fit(2, 20, 12, 230, 60, 10, 95)):  # past the bottom
            self.assertEqual(len(texts_fit()({**FITTING, "fit": [misplaced]}, INFO)), 1,
                             misplaced)


class ExitCheckTest(unittest.TestCase):
    def test_a_window_that_never_came_on_screen(self):
        hidden_at_the_end = exit_result(run(OFF, 0, 900), run(OFF, 902, 910, visible=False))
        self.assertEqual(never_on_screen()(hidden_at_the_end, INFO), [])
        self.assertEqual(len(never_on_screen()(exit_result(run(OFF, 0, 100), run(MID, 102, 300)),
                                               INFO)), 1)

    def test_a_window_title_that_never_appeared(self):
        result = {"seen": [{"class": "#32770", "title": "Information"}]}
        self.assertEqual(never_seen("Confirmation")(result, INFO), [])
        self.assertEqual(len(never_seen("Information")(result, INFO)), 1)

    def test_a_pause_between_two_file_times(self):
        with tempfile.TemporaryDirectory() as folder:
            run_folder = Path(folder)
            (run_folder / "a").write_bytes(b"")
            (run_folder / "b").mkdir()
            os.utime(run_folder / "a", ns=(0, 1_000_000_000))
            os.utime(run_folder / "b", ns=(0, 2_495_000_000))
            self.assertEqual(pause_between("a", "b", 1500)(run_folder), [])
            os.utime(run_folder / "b", ns=(0, 2_400_000_000))
            self.assertEqual(len(pause_between("a", "b", 1500)(run_folder)), 1)
            self.assertEqual(len(pause_between("a", "c", 1500)(run_folder)), 1)


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


    def test_rewrites_the_count_the_program_path_and_a_stored_size(self):
        header = bytes(BLOCK_SIZE + 2 * RECORD_SIZE) + b"text\r\n\0"
        header = with_item_count(header, 2)
        self.assertEqual(text_start(header), BLOCK_SIZE + 2 * RECORD_SIZE)
        self.assertEqual(item_count(with_item_count(header, 65535)), 65535)
        path = with_program_path(header, b"A" * 256)
        self.assertEqual(path[400:656], b"A" * 256)
        self.assertEqual(with_program_path(path, b"x.exe")[400:656], b"x.exe".ljust(256, b"\0"))
        sized = with_stored_size(header, 1, 0x01020304)
        at = BLOCK_SIZE + RECORD_SIZE + 77
        self.assertEqual(sized[at:at + 4], b"\x04\x03\x02\x01")
        self.assertEqual(len(sized), len(header))
        with self.assertRaises(IndexError):
            with_stored_size(header, 2, 1)


class ScriptTest(unittest.TestCase):
    def test_quotes_what_the_driver_unquotes(self):
        self.assertEqual(quote('C:\\a "b"\n'), '"C:\\\\a \\"b\\"\\n"')

    def test_substitutes_and_finds_special_folders(self):
        self.assertEqual(substitute("{run}\\a {setup}", {"run": "Z:\\r", "setup": "s.exe"}),
                         "Z:\\r\\a s.exe")
        self.assertEqual(special_file("%DESKTOP%/a.txt"), ("desktop", "a.txt"))
        self.assertEqual(special_file("%TEMP%/b"), ("temp", "b"))
        self.assertIsNone(special_file("dest/a.txt"))

    def test_compares_bytes_or_by_predicate(self):
        self.assertEqual(differs(b"abc", b"abc"), "")
        self.assertNotEqual(differs(b"abc", b"abd"), "")
        self.assertEqual(differs(b"x\\Desktop", lambda d: d.endswith(b"\\Desktop")), "")
        self.assertNotEqual(differs(b"x", lambda d: False), "")


class SilentDriverTest(unittest.TestCase):
    """A driver that Wine ends before its first step ran nothing: one more run, no more."""

    class Session:
        def __init__(self, outputs):
            self.outputs = outputs

        @staticmethod
        def win_path(path):
            return "Z:" + str(path).replace("/", "\\")

        def run(self, args, cwd, stdin="", timeout=60, env=None):
            return self.outputs.pop(0)

    PASSED = (0, '{"step": 1, "ok": true}\n{"step": 2, "ok": true, "exit_code": 0, "seen": []}\n')

    def runs(self, *outputs):
        with tempfile.TemporaryDirectory() as folder:
            programs = Path(folder)
            for name in ("driver", "testapp"):
                (programs / f"{name}.exe").write_bytes(b"MZ")
            runner = Runner(self.Session(list(outputs)),
                            {name: programs / f"{name}.exe" for name in ("driver", "testapp")},
                            programs / "runs", {})
            with contextlib.redirect_stdout(io.StringIO()) as said:
                problems = runner.run({"name": "plain", "program": "testapp"})
            return problems, said.getvalue()

    def test_runs_once_more_and_says_so(self):
        self.assertEqual(self.runs(self.PASSED), ([], ""))
        problems, said = self.runs((1, ""), self.PASSED)
        self.assertEqual(problems, [])
        self.assertIn("RETRY plain: the driver ended with exit code 1 before its first step", said)

    def test_fails_when_it_happens_twice_or_after_a_step(self):
        problems, _ = self.runs((1, ""), (1, ""))
        self.assertEqual(problems, ["the driver ended with exit code 1 before its first step"])
        problems, said = self.runs((1, '{"step": 1, "ok": true}\n'))
        self.assertEqual(said, "")
        self.assertTrue(problems and "after 1 of 2 steps" in problems[0], problems)


if __name__ == "__main__":
    unittest.main()
