"""The setup program: started after the items are written, waited for, and the clean-up that
follows as its exit code and the archive's flags decide, with the delete question and the notices;
and the same unattended (/S, /passive), where the command line answers and the exit code tells.

The archives carry e2e_setup.exe (tests/e2e/setup) as setup.exe beside setup.cfg, which tells it
what to do: it leaves ran.txt (holding its own path) in its folder and ends with the code given
there. ran.txt is no item, so it outlives the clean-up.
"""

import re

from archive import with_file_name
from checks import information, log_holds, message_box, never_seen, pause_between, window
from scenario import Tool

README = b"Read me first.\r\n" * 40
NOTES = b"Release notes.\r\n" * 300


def setup_files(config: str) -> dict:
    return {"readme.txt": README, "notes.txt": NOTES, "setup.cfg": config.encode(),
            "setup.exe": Tool("setup")}


ITEMS = ["readme.txt", "notes.txt", "setup.cfg", "setup.exe"]
IN_DEST = ["--dest", "{run}\\dest", "--run", "setup.exe", "--program-in-destination"]
WAIT = IN_DEST + ["--wait-and-delete"]


def ran_from(path_end: bytes):
    """The marker of a program that was started from a path ending in `path_end`."""
    return lambda data: data.lower().endswith(path_end.lower())


RAN = {"dest/ran.txt": ran_from(b"\\dest\\setup.exe")}
KEPT = {**{f"dest/{name}": name for name in ITEMS}, **RAN}

DELETE_QUESTION = "Do you want to delete extracted temporary files?"
CONFIRM = [
    {"do": "wait", "title": "Confirmation", "class": "#32770"},
    {"do": "focus", "id": 6,
     "check": window(title="Confirmation", centred=True, focus=6, default=6,
                     texts={10: DELETE_QUESTION}, buttons={6: "&Yes", 7: "&No"})},
]

MISSING_NOTICE = ("Files were succesfully extracted, but an internal Windows problem occurs to "
                  "start setup.\r\n\r\nExtractor will terminate the job now.\r\n\r\nAfter that "
                  "to setup the product, please start the program: \"{path}\"")

LONG_PATH = "{run}\\" + "long folder name\\" * 8 + "setup.exe"

TEMP_WAIT = ["--temp", "--run", "setup.exe", "--program-in-destination", "--wait-and-delete"]
# Outside Windows-1252, the code page of the prefix: the ANSI functions spell it "????".
CYRILLIC = "\u041f\u0451\u0442\u0440"


def missing(path: str) -> list:
    """The notice for a program that cannot be found, answered."""
    return [{"do": "wait", "title": "Information", "class": "#32770",
             "check": information(MISSING_NOTICE.replace("{path}", path))},
            {"do": "click", "id": 1}]


def own_folders(count: int):
    """A check of the temporary folder: `count` folders of the stub's own, each holding only the
    ran.txt of the setup program that was started from it."""
    def check(temp):
        folders = sorted(temp.glob("vexa-*"))
        problems = [] if len(folders) == count else [
            f"{len(folders)} folders vexa-* in the temporary folder, expected {count}"]
        for folder in folders:
            names = sorted(p.name for p in folder.iterdir())
            if not re.fullmatch(r"vexa-[0-9a-f]{8}", folder.name):
                problems.append(f"a folder named {folder.name}")
            elif names != ["ran.txt"]:
                problems.append(f"{folder.name} holds {names}")
            elif not ran_from(f"\\{folder.name}\\setup.exe".encode())(
                    (folder / "ran.txt").read_bytes()):
                problems.append(f"the program in {folder.name} ran from elsewhere")
        return problems
    return check


def tree_setup(config: str) -> dict:
    """A tree whose setup program lies in bin."""
    return {"tree/bin/setup.exe": Tool("setup"), "tree/bin/setup.cfg": config.encode(),
            "tree/docs/readme.txt": README,
            "tree/docs/\u041f\u0440\u0438\u043c\u0435\u0440/notes.txt": NOTES,
            "tree/logs/empty": None}


TREE_WAIT = ["--dest", "{run}\\dest", "--run", "bin\\setup.exe", "--program-in-destination",
             "--wait-and-delete"]
TREE_RAN = ran_from(b"\\dest\\bin\\setup.exe")
# The destination holds a folder of the user's: the tree uses it and the clean-up leaves it.
USERS = {"dest/docs/mine.txt": b"the user's\r\n"}


def tree_cleanup(name, config, written, **more):
    return {"name": name, "files": tree_setup(config), "inputs": ["tree"], "pack": TREE_WAIT,
            "mkdirs": ["dest"], "put": USERS, "args": LOG,
            "exit_checks": [never_seen("Confirmation")], "written": written, **more}


PASSWORD = "Open Sesame 7"
LOG = "/log={run}\\setup.log"
# The driver fails the step at the first window the program shows.
NO_WINDOW = [{"do": "nowindow"}]


def unattended(name, config, args, exit_code=0, written=RAN, pack=WAIT, **more):
    """The setup archive run with `args` and no window, ending with `exit_code`."""
    return {"name": name, "files": setup_files(config), "pack": pack, "mkdirs": ["dest"],
            "args": args, "steps": NO_WINDOW, "exit_code": exit_code, "written": written, **more}


def answered(name, config, answer, written, pack=WAIT):
    """The setup program ends as `config` says and the delete question gets `answer` (steps)."""
    return {"name": name, "files": setup_files(config), "pack": pack, "mkdirs": ["dest"],
            "steps": [*CONFIRM, *answer, {"do": "gone"}], "written": written}


SCENARIOS = [
    # The clean-up waits 1.5 s after the program has ended; ran.txt is written just before it
    # ends, and the last deletion is the destination folder's last change.
    {"name": "setup_exit0_deletes", "files": setup_files("mark ran.txt\nexit 0"), "pack": WAIT,
     "mkdirs": ["dest"], "exit_checks": [never_seen("Confirmation")], "written": RAN,
     "after": [pause_between("dest/ran.txt", "dest", 1500)]},

    answered("setup_exit1_yes", "mark ran.txt\nexit 1", [{"do": "click", "id": 6}], RAN),
    answered("setup_exit1_no", "mark ran.txt\nexit 1", [{"do": "click", "id": 7}], KEPT),
    answered("setup_exit1_esc", "mark ran.txt\nexit 1", [{"do": "key", "name": "esc"}], KEPT),
    answered("setup_exit1_close_box", "mark ran.txt\nexit 1", [{"do": "close"}], KEPT),
    # Yes is the default button: Enter answers Yes.
    answered("setup_exit1_enter", "mark ran.txt\nexit 1", [{"do": "key", "name": "enter"}], RAN),
    answered("always_confirm_exit0", "mark ran.txt\nexit 0", [{"do": "click", "id": 6}], RAN,
             pack=WAIT + ["--always-confirm"]),
    answered("always_confirm_no", "mark ran.txt\nexit 0", [{"do": "click", "id": 7}], KEPT,
             pack=WAIT + ["--always-confirm"]),

    # An exit code of 0x80000000 or more is negative as a signed value: taken for a start that
    # failed. The code here is an access violation's.
    {"name": "setup_exit_negative", "files": setup_files("mark ran.txt\nexit 0xC0000005"),
     "pack": WAIT, "mkdirs": ["dest"],
     "steps": [{"do": "wait", "title": "Information", "class": "#32770",
                "check": information("Could not start: {run}\\dest\\setup.exe\r\n"
                                     "Please try this manually.")},
               {"do": "click", "id": 1}],
     "exit_checks": [never_seen("Confirmation")],
     "written": KEPT},

    {"name": "program_missing", "files": {"readme.txt": README},
     "pack": ["--dest", "{run}\\dest", "--run", "{run}\\dest\\absent.exe", "--wait-and-delete"],
     "mkdirs": ["dest"], "steps": missing("{run}\\dest\\absent.exe"),
     "exit_code": 1, "written": {"dest/readme.txt": "readme.txt"}},

    # The notice is longer than the 255 characters of the original buffer; all of it is shown.
    {"name": "program_missing_long_path", "files": {"readme.txt": README},
     "pack": ["--dest", "{run}\\dest", "--run", LONG_PATH, "--wait-and-delete"],
     "mkdirs": ["dest"], "steps": missing(LONG_PATH),
     "exit_code": 1, "written": {"dest/readme.txt": "readme.txt"}},

    {"name": "program_empty", "files": {"readme.txt": README}, "put": {"tools/empty.exe": b""},
     "pack": ["--dest", "{run}\\dest", "--run", "{run}\\tools\\empty.exe", "--wait-and-delete"],
     "mkdirs": ["dest"], "steps": missing("{run}\\tools\\empty.exe"),
     "exit_code": 1, "written": {"dest/readme.txt": "readme.txt"}},

    {"name": "program_is_folder", "files": {"readme.txt": README},
     "pack": ["--dest", "{run}\\dest", "--run", "{run}\\setup.exe", "--wait-and-delete"],
     "mkdirs": ["dest", "setup.exe"], "steps": missing("{run}\\setup.exe"),
     "exit_code": 1, "written": {"dest/readme.txt": "readme.txt"}},

    # The backslash and the n of "\new" become a line break in the notice.
    {"name": "program_path_line_break", "files": {"readme.txt": README},
     "pack": ["--dest", "{run}\\dest", "--run", "{run}\\dest\\new\\setup.exe"],
     "mkdirs": ["dest"],
     "steps": [{"do": "wait", "title": "Information", "class": "#32770",
                "check": information(MISSING_NOTICE.replace(
                    "{path}", "{run}\\dest\r\new\\setup.exe"))},
               {"do": "click", "id": 1}],
     "exit_code": 1, "written": {"dest/readme.txt": "readme.txt"}},

    # A program that is no item is started from where it is; only the items are deleted.
    {"name": "program_outside_items", "files": {"readme.txt": README, "notes.txt": NOTES},
     "put": {"tools/setup.exe": Tool("setup"), "tools/setup.cfg": b"mark ran.txt\nexit 0"},
     "pack": ["--dest", "{run}\\dest", "--run", "{run}\\tools\\setup.exe", "--wait-and-delete"],
     "mkdirs": ["dest"],
     "steps": [{"do": "file", "path": "{run}\\dest\\notes.txt", "state": "absent"}],
     "written": {"tools/ran.txt": ran_from(b"\\tools\\setup.exe")}},

    # The deletion stops at the first file that is gone; the items after it stay.
    {"name": "program_deletes_item", "files": setup_files("delete notes.txt\nmark ran.txt\nexit 0"),
     "pack": WAIT, "mkdirs": ["dest"], "exit_code": 1,
     "written": {"dest/setup.cfg": "setup.cfg", "dest/setup.exe": "setup.exe", **RAN}},

    # An item whose name is refused is neither written nor deleted: joined to the destination,
    # "..\victim.txt" names a file of the run folder that is not the archive's.
    {"name": "cleanup_spares_refused_name",
     "files": {**setup_files("mark ran.txt\nexit 0"), "victim.txt": b"the archive's\r\n"},
     "craft": lambda archive: archive.rewrite(put={"HEADER": with_file_name(
         archive.get("HEADER"), len(ITEMS), b"..\\victim.txt")}),
     "put": {"victim.txt": b"not the archive's\r\n"}, "pack": WAIT, "mkdirs": ["dest"],
     "steps": [{"do": "wait", "title": "Information", "class": "#32770",
                "check": message_box("Information", "Invalid archive format.", {1: "OK"})},
               {"do": "click", "id": 1}],
     "written": RAN},

    # A tree's program in a subfolder is started there and waited for; the clean-up deletes the
    # files, then the folders the run made, deepest first, which leaves the destination as it was.
    tree_cleanup("tree_cleanup_restores_destination", "mark ..\\..\\ran.txt\nexit 0",
                 {"ran.txt": TREE_RAN, "setup.log": log_holds(
                     "Made folder ", "\\dest\\bin\\setup.exe (", "\\dest\\bin\\setup.exe\"",
                     "Program exit code: 0", "Removed folder ", "\\dest\\logs",
                     "\\docs\\\u041f\u0440\u0438\u043c\u0435\u0440", "\\dest\\bin",
                     "Exit code: 0")}),
    # A folder that the program made holds its files after the clean-up: it stays, with the
    # folder it is in.
    tree_cleanup("tree_cleanup_keeps_program_folder",
                 "mkdir own\nmark own\\made.txt\nmark ..\\..\\ran.txt\nexit 0",
                 {"ran.txt": TREE_RAN, "dest/bin/own/made.txt": TREE_RAN,
                  "setup.log": log_holds("Removed folder ")}),

    # The temporary folder is shared by every program the user runs: each run extracts into a
    # new folder of its own, so two runs at once keep apart, and the program is never started
    # beside a DLL that something left there to be loaded in place of a system one. The items
    # are deleted; the folders stay only for the ran.txt that each program left.
    {"name": "temp_two_at_once", "files": setup_files("sleep 3000\nmark ran.txt\nexit 0"),
     "pack": TEMP_WAIT, "put": {"%TEMP%/version.dll": b"not a system DLL"},
     "before": [{"do": "spawn", "exe": "{run}\\app\\setup.exe"}],
     "steps": [{"do": "reap", "check": lambda result, info: [] if result["exit_codes"] == [0]
                else [f"the other run ended with {result['exit_codes']}"]}],
     "clear": ["%TEMP%/vexa-*"], "temp_checks": [own_folders(2)]},

    # Paths that the ANSI code page cannot spell are taken by their short names.
    {"name": "temp_folder_outside_code_page", "files": setup_files("mark ..\\ran.txt\nexit 0"),
     "pack": TEMP_WAIT, "mkdirs": [f"temp {CYRILLIC}"],
     "env": f"TMP={{run}}\\temp {CYRILLIC}\nTEMP={{run}}\\temp {CYRILLIC}",
     "written": {f"temp {CYRILLIC}/ran.txt": ran_from(b"\\setup.exe")}},

    {"name": "exe_folder_outside_code_page", "app": f"app {CYRILLIC}",
     "files": setup_files("mark ran.txt\nexit 0"),
     "pack": ["--dest", "unpacked", "--run", "setup.exe", "--program-in-destination"],
     "mkdirs": [f"app {CYRILLIC}/unpacked"],
     "steps": [{"do": "file", "path": f"{{run}}\\app {CYRILLIC}\\unpacked\\ran.txt"}],
     "written": {**{f"app {CYRILLIC}/unpacked/{name}": name for name in ITEMS},
                 f"app {CYRILLIC}/unpacked/ran.txt": ran_from(b"\\setup.exe")}},

    # Without waiting, the stub ends as soon as the program is started, and the files stay. The
    # path has spaces: left unquoted, it would start {run}\dest.exe (the decoy) instead.
    {"name": "no_wait_path_with_spaces", "files": setup_files("mark ran.txt"),
     "put": {"dest.exe": Tool("setup"), "dest.cfg": b"mark decoy-ran.txt"},
     "pack": ["--dest", "{run}\\dest with spaces", "--run", "setup.exe",
              "--program-in-destination"],
     "mkdirs": ["dest with spaces"],
     "steps": [{"do": "file", "path": "{run}\\dest with spaces\\ran.txt"}],
     "written": {**{f"dest with spaces/{name}": name for name in ITEMS},
                 "dest with spaces/ran.txt": ran_from(b"\\dest with spaces\\setup.exe")}},

    # Unattended: every question takes its answer from the command line, no window ever shows,
    # and the delete question is answered Yes.
    unattended("silent_answers_everything", "mark ran.txt\nexit 0",
               f"/S /password-file={{run}}\\key.txt {LOG}",
               pack=WAIT + ["--always-confirm", "--encrypt", "--password", PASSWORD,
                            "--welcome", "Install?", "--title", "Setup"],
               put={"key.txt": PASSWORD.encode() + b"\r\n"},
               written={**RAN, "setup.log": log_holds(
                   "Start", "Archive: ", "Mode: silent", "Destination: ",
                   "\\readme.txt (640 bytes)", "Program: \"", "Program exit code: 0",
                   "Deleted ", "Exit code: 0")}),
    unattended("passive_wrong_password", "mark ran.txt", f"/passive /password=wrong {LOG}", 3,
               pack=WAIT + ["--encrypt", "--password", PASSWORD], steps=[],
               written={"setup.log": log_holds("Mode: passive", "Password Invalid.",
                                               "Exit code: 3")}),
    unattended("silent_password_missing", "mark ran.txt", f"/S {LOG}", 2,
               pack=WAIT + ["--encrypt", "--password", PASSWORD],
               written={"setup.log": log_holds(
                   "This archive needs /password-file= | /password= on the command line.",
                   "Exit code: 2")}),
    # The waited-for program's code reaches the deployment tool; the files go without a question.
    unattended("silent_program_exit_3010", "mark ran.txt\nexit 3010", "/S", 3010),
    unattended("passive_program_exit_1618", "mark ran.txt\nexit 1618", "/passive", 1618,
               steps=[]),
    # Everything after -- reaches the program as it was given, quotes and all.
    unattended("silent_arguments_reach_program", "args args.txt\nexit 0",
               '/S -- /quiet "C:\\a b\\c.ini"  x',
               written={"dest/args.txt": lambda data: data.endswith(
                   b'\\dest\\setup.exe" /quiet "C:\\a b\\c.ini"  x')}),
    unattended("silent_extract_only", "mark ran.txt\nexit 7", "/S /extract",
               written={f"dest/{name}": name for name in ITEMS}),
    unattended("silent_program_missing", "", f"/S {LOG}", 1,
               pack=["--dest", "{run}\\dest", "--run", "{run}\\dest\\absent.exe",
                     "--wait-and-delete"],
               written={**{f"dest/{name}": name for name in ITEMS}, "setup.log": log_holds(
                   "Files were succesfully extracted, but", "Exit code: 1")}),
    # /D= stands for the temporary folder too, and takes the rest of the line, spaces and all;
    # the folders it made go with the files (ran.txt is written two levels up).
    unattended("silent_dest_for_temp_removed", "mark ..\\..\\ran.txt\nexit 0",
               "/S /D={run}\\new folder\\inner dir", pack=TEMP_WAIT,
               written={"ran.txt": ran_from(b"\\new folder\\inner dir\\setup.exe")},
               clear=["%TEMP%/vexa-*"], temp_checks=[own_folders(0)]),
]
