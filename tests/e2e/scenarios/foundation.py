"""The extraction spine: the welcome question, the destinations, the status window, and archives
that are damaged or hostile; then the stub's command line: its usage box, the destination it
gives, and what an unattended run makes of the welcome question, a damaged archive and a
command line it cannot take.

The stub is started with C:\\ as its current folder, so a path it wrongly resolves against the
current folder lands inside the Wine prefix and shows up as a missing file.

Wine stands in for Windows; where it differs, the scenario says so.
"""

import random

from archive import with_file_name
from checks import (all_of, centred_display, log_holds, message_box, never_seen, progress,
                    progress_bar_inside, window)

rng = random.Random(1)
README = b"Read me first.\r\n" * 40
# Larger than three copy buffers of 61440 bytes, and incompressible.
DATA = rng.randbytes(200_000)
FILES = {"readme.txt": README, "data.bin": DATA}
# Long to write on any machine (see status_window_paints_during_item), small once packed.
LARGE = bytes(512 << 20)
ALL_WRITTEN = {"readme.txt": "readme.txt", "data.bin": "data.bin"}

WELCOME = ["--welcome", "Install the Vexa demo?", "--title", "Vexa Demo Setup"]
WELCOME_BOX = {"do": "wait", "title": "Vexa Demo Setup", "class": "#32770",
               "check": message_box("Vexa Demo Setup", "Install the Vexa demo?",
                                    {6: "&Yes", 7: "&No"})}
TO_DEST = ["--dest", "{run}\\dest"]


def wider_than(width):
    def check(result, info):
        w = result["window"]["rect"]["w"]
        return [] if w > width else [f"the window is {w} wide, expected more than {width}"]
    return check


def into(folder, names):
    return {f"{folder}/{name}": source for name, source in names.items()}


# A folder tree as vexa packs it: three levels, a name longer than FileName's 32 bytes,
# Cyrillic and CJK names beside the code page's, empty folders, and a path that takes
# destination and path past MAX_PATH.
DEEP = "deep/" + "a folder name of thirty-two units/" * 7 + "past MAX_PATH.txt"
TREE = {"readme.txt": README,
        "app/lib/Microsoft.Extensions.DependencyInjection.dll": DATA,
        "docs/\u041f\u0440\u0438\u0432\u0435\u0442.txt": b"Cyrillic\r\n",
        "docs/\u4e2d\u6587/\u8bf4\u660e.txt": b"CJK\r\n",
        DEEP: b"deep\r\n"}
TREE_EMPTY = ["logs/empty", "cache"]
TREE_FILES = {**{f"tree/{path}": data for path, data in TREE.items()},
              **{f"tree/{folder}": None for folder in TREE_EMPTY}}

# Item names that would leave the destination folder or name no file in it.
UNSAFE_NAMES = [b"..\\x", b"C:\\x", b"\\x", b"sub\\..\\..\\x", b"a\\\\b", b""]
UNSAFE_FILES = {"first.txt": b"first item\r\n",
                **{f"unsafe{i}.txt": f"unsafe item {i}\r\n".encode()
                   for i in range(1, len(UNSAFE_NAMES) + 1)},
                "last.txt": b"last item\r\n"}
SUBFOLDER_FILES = {"first.txt": b"first item\r\n", "inner.txt": b"inner item\r\n",
                   "other.txt": b"other item\r\n", "last.txt": b"last item\r\n"}


def renamed(*names):
    """Crafts the archive with its items from the second on renamed to `names`."""
    def craft(archive):
        header = archive.get("HEADER")
        for index, name in enumerate(names, start=1):
            header = with_file_name(header, index, name)
        archive.rewrite(put={"HEADER": header})
    return craft


LOG = "/log={run}\\setup.log"
NO_WINDOW = [{"do": "nowindow"}]
USAGE = ("Switches (each once, with / or -, in any case):\r\n"
         "/S  silent: no window, questions answered Yes\r\n"
         "/passive  no questions, progress shown\r\n"
         "/D=PATH  destination folder (last on the line)\r\n"
         "/password-file=PATH or /password=TEXT  for an encrypted archive\r\n"
         "/extract  write the files, start nothing\r\n"
         "/log=PATH  append to a log\r\n"
         "-- ARGUMENTS  passed on to the program\r\n\r\n"
         "Exit codes with /S or /passive: 0 done; 1 failed; 2 command line refused; "
         "3 wrong password; the program's own code when the archive waits for it.")
REFUSED_QUIET = "The switch /quiet is unknown, given twice or cannot be used here."

INVALID_ARCHIVE_BOX = [
    {"do": "wait", "title": "Information", "class": "#32770",
     "check": message_box("Information", "Invalid archive format.", {1: "OK"})},
    {"do": "click", "id": 1},
    {"do": "gone"},
]

SCENARIOS = [
    {"name": "welcome_yes", "files": FILES, "pack": TO_DEST + WELCOME, "mkdirs": ["dest"],
     "steps": [WELCOME_BOX, {"do": "click", "id": 6}],
     "written": into("dest", ALL_WRITTEN)},

    {"name": "welcome_no", "files": FILES, "pack": TO_DEST + WELCOME, "mkdirs": ["dest"],
     "steps": [WELCOME_BOX, {"do": "click", "id": 7}]},

    # An archive with the question in its code page only, as other packers write it.
    {"name": "welcome_in_code_page_only", "files": FILES, "pack": TO_DEST + WELCOME,
     "mkdirs": ["dest"],
     "craft": lambda archive: archive.rewrite(drop=["WELCOMETEXTW", "WELCOMETITLEW"]),
     "steps": [WELCOME_BOX, {"do": "click", "id": 6}],
     "written": into("dest", ALL_WRITTEN)},

    # Wine's temporary folder is C:\users\<user>\Temp; Windows' is under the user's local
    # application data. Both are what GetTempPath reports, where the stub makes a folder of its
    # own for the files.
    {"name": "temp_folder", "pack": ["--temp"], "files": FILES,
     "written": {"%TEMP%/vexa-*/readme.txt": "readme.txt", "%TEMP%/vexa-*/data.bin": "data.bin"}},

    # Z: is Wine's name for the Unix root; on Windows any absolute path behaves alike.
    {"name": "fixed_absolute", "pack": ["--dest", "{run}\\fixed"], "mkdirs": ["fixed"],
     "files": {**FILES, "empty.dat": b""},
     "written": into("fixed", {**ALL_WRITTEN, "empty.dat": "empty.dat"})},

    # A destination without a colon is relative to the archive's own folder (app/), not to
    # the current folder.
    {"name": "fixed_relative", "pack": ["--dest", "unpacked"], "mkdirs": ["app/unpacked"],
     "files": FILES, "written": into("app/unpacked", ALL_WRITTEN),
     "absent": ["C:\\unpacked"]},

    # The status window exists off the screen while the welcome question waits, which lets the
    # watch start before the window moves. It leaves the screen microseconds before it is
    # destroyed, so that last position is seen only when a sample falls in between. On a bare X
    # display Wine reports a full-screen client area taller than the screen (779 lines on a
    # 768-line display; Windows takes the taskbar and a caption off instead). The centre is
    # computed from that metric as the stub computes it, so the check holds on both. The items
    # are written well within the display's least time, which the bar spends full.
    {"name": "status_window", "files": FILES, "pack": TO_DEST + WELCOME, "mkdirs": ["dest"],
     "steps": [{"do": "wait", "class": "QuorvantaSelfExtractorWindow", "title": "Extracting Files",
                "check": window(width=310, height=100)},
               {"do": "watch"},
               {"do": "watch", "what": "progress"},
               {"do": "dump", "check": progress_bar_inside()},
               WELCOME_BOX,
               {"do": "click", "id": 6}],
     "exit_checks": [centred_display(310, 100, 1500, must_return=False),
                     progress(len(README) + len(DATA), ends_full=True)],
     "written": into("dest", ALL_WRITTEN)},

    # A note wider than the window's least width widens it, the bar staying under the note and
    # inside the window. The bar is made once the window has its size.
    {"name": "status_window_long_note", "files": FILES, "mkdirs": ["dest"],
     "pack": TO_DEST + ["--texts", "texts.txt"],
     "put": {"texts.txt":
             b"2019=Please wait while the Acme Tools files are written to your disk...\n"},
     "steps": [{"do": "wait", "class": "QuorvantaSelfExtractorWindow", "title": "Extracting Files"},
               {"do": "watch", "what": "progress"},
               {"do": "dump", "check": all_of(wider_than(310), progress_bar_inside())}],
     "written": into("dest", ALL_WRITTEN)},

    # Windows calls a window "Not Responding" once it has taken no message for 5 s: the status
    # window keeps painting while one large item is written. What a user sees is the longest
    # wait for a paint, held here to a tenth of that. A write that ends within that owes no
    # paint, so the item is one that takes longer on any machine without costing the suite
    # much: 512 MiB of zeros inflate for about 1 s natively, 4 s through qemu-user, from an
    # archive of 0.6 MB.
    {"name": "status_window_paints_during_item", "files": {"large.bin": LARGE},
     "pack": TO_DEST + ["--level", "1"], "mkdirs": ["dest"],
     "steps": [{"do": "wait", "class": "QuorvantaSelfExtractorWindow", "title": "Extracting Files"},
               {"do": "watch", "what": "progress"},
               {"do": "paintwhile", "path": "{run}\\dest\\large.bin", "size": len(LARGE),
                "budget": 500}],
     "exit_checks": [progress(len(LARGE), moves=True)],
     "written": {"dest/large.bin": "large.bin"}},

    {"name": "missing_header", "program": "stub",
     "steps": [{"do": "wait", "title": "Error", "class": "#32770",
                "check": message_box("Error", "Cannot locate header.", {1: "OK"})},
               {"do": "click", "id": 1}]},

    {"name": "missing_item", "files": FILES, "pack": TO_DEST, "mkdirs": ["dest"],
     "craft": lambda archive: archive.rewrite(drop=["ITEM2"]),
     "exit_code": 1, "written": {"dest/readme.txt": "readme.txt"}},

    {"name": "missing_destination", "files": FILES, "pack": ["--dest", "{run}\\nowhere"],
     "exit_code": 1},

    # One notice per unsafe item; the safe items around them are written. "\x" and "C:\x" would
    # land on C: (the current drive); "..\x", and "sub\..\..\x" too, since Windows resolves
    # ".." without looking for sub, in the run folder; "a\\b", once the doubled separator is
    # read as one, in a subfolder a that does not exist, failing the run.
    {"name": "unsafe_item_names", "files": UNSAFE_FILES, "pack": TO_DEST, "mkdirs": ["dest"],
     "craft": renamed(*UNSAFE_NAMES),
     "steps": INVALID_ARCHIVE_BOX * len(UNSAFE_NAMES),
     "written": {"dest/first.txt": "first.txt", "dest/last.txt": "last.txt"},
     "absent": ["C:\\x", "C:\\a"]},

    # A name in a subfolder is joined to the destination unchanged, whichever separator it uses:
    # the item goes into the subfolder that exists.
    {"name": "item_in_subfolder", "files": SUBFOLDER_FILES, "pack": TO_DEST,
     "mkdirs": ["dest", "dest/sub"], "craft": renamed(b"sub\\inner.txt", b"sub/other.txt"),
     "written": {"dest/first.txt": "first.txt", "dest/sub/inner.txt": "inner.txt",
                 "dest/sub/other.txt": "other.txt", "dest/last.txt": "last.txt"}},

    # No folder is created for it: an item in a missing subfolder fails like any file that cannot
    # be created, silently, and the items before it stay.
    {"name": "item_in_missing_subfolder", "files": SUBFOLDER_FILES, "pack": TO_DEST,
     "mkdirs": ["dest"], "craft": renamed(b"sub\\inner.txt"),
     "exit_code": 1, "written": {"dest/first.txt": "first.txt"}},

    # The tree's folders are made, the empty ones too; docs was there already and is used.
    {"name": "tree_written", "files": TREE_FILES, "inputs": ["tree"], "pack": TO_DEST,
     "mkdirs": ["dest/docs"], "args": LOG,
     "written": {**{f"dest/{path}": f"tree/{path}" for path in TREE}, "setup.log": log_holds(
         "Made folder ", "\\lib\\Microsoft.Extensions.DependencyInjection.dll (200000 bytes)")},
     "folders": [f"dest/{folder}" for folder in TREE_EMPTY]},

    # The command line. /? shows the switches and extracts nothing; a switch the stub does not
    # know shows them under the reason, and the run ends with 2 before anything is written.
    {"name": "usage_box", "files": FILES, "pack": TO_DEST, "mkdirs": ["dest"], "args": "/?",
     "steps": [{"do": "wait", "title": "Information", "class": "#32770",
                "check": message_box("Information", USAGE, {1: "OK"})},
               {"do": "click", "id": 1}]},
    {"name": "unknown_switch_box", "files": FILES, "pack": TO_DEST, "mkdirs": ["dest"],
     "args": "/quiet",
     "steps": [{"do": "wait", "title": "Error", "class": "#32770",
                "check": message_box("Error", REFUSED_QUIET + "\r\n\r\n" + USAGE, {1: "OK"})},
               {"do": "click", "id": 1}],
     "exit_code": 2},
    # With /S anywhere on the line the refusal goes to the log only.
    {"name": "silent_unknown_switch", "files": FILES, "pack": TO_DEST, "mkdirs": ["dest"],
     "args": f"/quiet /S {LOG}", "steps": NO_WINDOW, "exit_code": 2,
     "written": {"setup.log": log_holds("Start", REFUSED_QUIET, "Exit code: 2")}},

    # The welcome question is answered Yes; /D= makes the folder it names, spaces and all, also
    # for an archive that would ask for one.
    {"name": "silent_welcome_dest_with_spaces", "files": FILES, "pack": ["--ask-folder"] + WELCOME,
     "args": "/S /D={run}\\my programs\\demo", "steps": NO_WINDOW,
     "written": into("my programs/demo", ALL_WRITTEN)},
    {"name": "silent_ask_folder_without_dest", "files": FILES, "pack": ["--ask-folder"],
     "args": f"/S {LOG}", "steps": NO_WINDOW, "exit_code": 2,
     "written": {"setup.log": log_holds("This archive needs /D= on the command line.",
                                        "Exit code: 2")}},
    # Interactive runs keep 0 for a failure that a box told; unattended ones say 1.
    {"name": "silent_damaged_archive", "files": FILES, "pack": TO_DEST, "mkdirs": ["dest"],
     "craft": lambda archive: archive.rewrite(drop=["ITEM2"]), "args": f"{LOG} /S",
     "steps": NO_WINDOW, "exit_code": 1,
     "written": {"dest/readme.txt": "readme.txt", "setup.log": log_holds(
         "Mode: silent", "readme.txt (640 bytes)", "Stopped: ", "Exit code: 1")}},
    {"name": "silent_missing_header", "program": "stub", "args": f"/S {LOG}",
     "steps": NO_WINDOW, "exit_code": 1,
     "written": {"setup.log": log_holds("Cannot locate header.", "Exit code: 1")}},
    # /passive asks nothing but shows the status window.
    {"name": "passive_status_window", "files": FILES, "pack": TO_DEST + WELCOME,
     "mkdirs": ["dest"], "args": "/passive",
     "steps": [{"do": "wait", "class": "QuorvantaSelfExtractorWindow",
                "title": "Extracting Files"}, {"do": "onscreen"}],
     "exit_checks": [never_seen("Vexa Demo Setup")], "written": into("dest", ALL_WRITTEN)},
    # An archive packed with --no-unattended refuses the switches that answer for a person,
    # and runs as before without them.
    {"name": "no_unattended_refuses_silent", "files": FILES,
     "pack": TO_DEST + ["--no-unattended"], "mkdirs": ["dest"], "args": f"/S {LOG}",
     "steps": NO_WINDOW, "exit_code": 2,
     "written": {"setup.log": log_holds(
         "The switch /S is unknown, given twice or cannot be used here.", "Exit code: 2")}},
    {"name": "no_unattended_runs_without_switches", "files": FILES,
     "pack": TO_DEST + ["--no-unattended"], "mkdirs": ["dest"],
     "written": into("dest", ALL_WRITTEN)},
]
