"""The conversation: the password dialog, the folder browser with its exit question, and how each
answer ends the run.

The beep of a refused password is not observed: under Wine on a virtual display it reaches no
device that the harness could listen to.
"""

import random

from checks import all_of, message_box, never_on_screen, selection, shows, window

rng = random.Random(2)
PASSWORD = "Secret Sesame 1"
# Compressible text and incompressible bytes, each larger than a copy buffer, so that both the
# inflating and the plain path run under the cipher.
TEXT = b"".join(b"line %d of the manual\r\n" % i for i in range(8000))
DATA = rng.randbytes(100_001)
FILES = {"manual.txt": TEXT, "data.bin": DATA}
ENCRYPTED = ["--dest", "{run}\\dest", "--encrypt", "--password", PASSWORD]

INVALID = "Password Invalid. Try one more time..."
NOTE = "This self extracting archive is encrypted."

STATUS = {"do": "wait", "class": "QuorvantaSelfExtractorWindow", "title": "Extracting Files"}
PASSWORD_DIALOG = [
    {"do": "wait", "title": "Decrypting Files", "class": "#32770"},
    {"do": "focus", "id": 11,
     "check": window(title="Decrypting Files", centred=True, focus=11, default=1,
                     texts={10: "Please Enter Password:", 12: "", 65535: NOTE},
                     buttons={1: "OK", 2: "Cancel"})},
]

BROWSER = {"do": "wait", "title": "Browse for Folder", "class": "#32770",
           "check": all_of(window(centred=True),
                           shows("Select the folder where do you want to extract files to"))}
EXIT_QUESTION = {"do": "wait", "title": "Confirmation", "class": "#32770",
                 "check": message_box("Confirmation", "Do you want to exit now?",
                                      {6: "&Yes", 7: "&No"})}


def into(folder, names):
    return {f"{folder}/{name}": name for name in names}


def gave_up(name, answer):
    """The password dialog answered by `answer` (steps): nothing is written, and the status
    window never comes on the screen."""
    return {"name": name, "files": FILES, "pack": ENCRYPTED, "mkdirs": ["dest"],
            "steps": [STATUS, {"do": "watch"}, *PASSWORD_DIALOG, *answer, {"do": "gone"}],
            "exit_checks": [never_on_screen()]}


SCENARIOS = [
    {"name": "password_right", "files": FILES, "pack": ENCRYPTED, "mkdirs": ["dest"],
     "steps": [*PASSWORD_DIALOG,
               {"do": "type", "id": 11, "text": PASSWORD},
               {"do": "click", "id": 1},
               {"do": "gone"}],
     "written": into("dest", FILES)},

    # An empty text is checked like any other. A refusal selects the whole text, so what is typed
    # next replaces it: typing the password after a refusal of "wrong" gives exactly the password.
    {"name": "password_wrong_then_right", "files": FILES, "pack": ENCRYPTED, "mkdirs": ["dest"],
     "steps": [*PASSWORD_DIALOG,
               {"do": "click", "id": 1},
               {"do": "expect", "id": 12, "text": INVALID},
               {"do": "type", "id": 11, "text": "wrong"},
               {"do": "expect", "id": 12, "text": ""},
               {"do": "click", "id": 1},
               {"do": "expect", "id": 12, "text": INVALID},
               {"do": "focus", "id": 11, "check": selection(11, 0, len("wrong"))},
               {"do": "type", "id": 11, "text": PASSWORD},
               {"do": "expect", "id": 12, "text": ""},
               {"do": "key", "name": "enter"},
               {"do": "gone"}],
     "written": into("dest", FILES)},

    # One letter in the other case is another password.
    {"name": "password_case_matters", "files": FILES, "pack": ENCRYPTED, "mkdirs": ["dest"],
     "steps": [*PASSWORD_DIALOG,
               {"do": "type", "id": 11, "text": PASSWORD.lower()},
               {"do": "click", "id": 1},
               {"do": "expect", "id": 12, "text": INVALID},
               {"do": "click", "id": 2},
               {"do": "gone"}]},

    gave_up("password_cancel", [{"do": "click", "id": 2}]),
    gave_up("password_esc", [{"do": "key", "name": "esc"}]),
    gave_up("password_close_box", [{"do": "close"}]),

    # No to the exit question brings the browser back, as often as the user likes; Yes ends the
    # run before the status window has come on the screen.
    {"name": "browse_cancel_then_exit", "files": FILES, "pack": ["--ask-folder"],
     "exit_checks": [never_on_screen()],
     "steps": [STATUS, {"do": "watch"},
               BROWSER, {"do": "browse", "button": "cancel"},
               EXIT_QUESTION, {"do": "click", "id": 7}, {"do": "gone"},
               BROWSER, {"do": "browse", "button": "cancel"},
               EXIT_QUESTION, {"do": "click", "id": 7}, {"do": "gone"},
               BROWSER, {"do": "browse", "button": "cancel"},
               EXIT_QUESTION, {"do": "click", "id": 6}, {"do": "gone"}]},

    # Wine's browser opens on the Desktop and OK takes it (Windows selects nothing until the user
    # does). The Desktop is the test prefix's, inside the build folder.
    {"name": "browse_ok_desktop", "pack": ["--ask-folder", "--title", "Browse demo", "--welcome",
                                           "Extract to a folder of your choice?"],
     "files": {"vexa-e2e-browse.txt": TEXT, "vexa-e2e-browse.bin": DATA},
     "steps": [{"do": "wait", "title": "Browse demo", "class": "#32770"},
               {"do": "click", "id": 6},
               BROWSER, {"do": "browse", "button": "ok"}],
     "written": {"%DESKTOP%/vexa-e2e-browse.txt": "vexa-e2e-browse.txt",
                 "%DESKTOP%/vexa-e2e-browse.bin": "vexa-e2e-browse.bin"}},

    # The password comes first, then the folder.
    {"name": "password_then_browse", "files": FILES,
     "pack": ["--ask-folder", "--encrypt", "--password", PASSWORD],
     "steps": [*PASSWORD_DIALOG,
               {"do": "type", "id": 11, "text": PASSWORD},
               {"do": "click", "id": 1},
               BROWSER, {"do": "browse", "button": "cancel"},
               EXIT_QUESTION, {"do": "click", "id": 6}]},
]
