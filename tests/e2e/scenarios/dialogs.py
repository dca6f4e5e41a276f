"""The conversation: the password dialog, the folder browser with its exit question, and how each
answer ends the run; then the same windows, the delete question and a fixed message in another
language, and in an author's own texts; and the stub's own dialogs in every shipped language,
each on a system set to it and on one whose code page (1252) cannot spell it, holding every text
whole; and the usage box of the stub's command line in another language.

The beep of a refused password is not observed: under Wine on a virtual display it reaches no
device that the harness could listen to.
"""

import random
from pathlib import Path

from checks import all_of, message_box, never_on_screen, selection, shows, texts_fit, window
from scenario import Tool

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
                     texts={10: "Please Enter Password:", 12: "", 14: NOTE},
                     buttons={1: "OK", 2: "Cancel"})},
]

BROWSER = {"do": "wait", "title": "Browse for Folder", "class": "#32770",
           "check": all_of(window(centred=True),
                           shows("Select the folder where do you want to extract files to"))}
EXIT_QUESTION = {"do": "wait", "title": "Confirmation", "class": "#32770",
                 "check": message_box("Confirmation", "Do you want to exit now?",
                                      {6: "&Yes", 7: "&No"})}


# What `vexa pack --language de` makes the stub say, and an author's own texts over English.
GERMAN = {2000: "Dateien werden extrahiert", 2002: "Ordner suchen",
          2003: "Wählen Sie den Ordner aus, in den die Dateien extrahiert werden sollen",
          2004: "Bestätigung", 2005: "Möchten Sie die extrahierten temporären Dateien löschen?",
          2006: "Dateien werden entschlüsselt", 2007: "Geben Sie das Kennwort ein:",
          2008: "Ungültiges Kennwort. Versuchen Sie es erneut.", 2009: "&Ja", 2010: "&Nein",
          2011: "Abbrechen", 2012: "OK", 2013: "Fehler", 2017: "Möchten Sie jetzt beenden?",
          2021: "Der Archivkopf wurde nicht gefunden.",
          2029: "Dieses selbstentpackende Archiv ist verschlüsselt."}
# The prompt and the error line are too long for one line of the dialog (the error line grows it
# while it is shown), the Cancel caption for the template's button.
OWN = {2000: "Installing Acme Tools", 2002: "Acme Tools: folder",
       2003: "Install Acme Tools into:", 2004: "Acme Tools: please confirm",
       2006: "Acme Tools: licence",
       2007: "Your licence key: the 25 letters and digits on the card in the box, without the "
             "dashes, as printed",
       2008: "That is not the licence key: type the 25 letters and digits again, exactly as "
             "they are printed on the card.",
       2011: "Leave without installing", 2012: "Use key", 2017: "Stop installing Acme Tools?"}
OWN_TEXTS = "".join(f"{k}={v}\n" for k, v in OWN.items()).encode()


def password_refused_once(t):
    """The password dialog in the texts `t` (by string id), every text whole: an empty
    password refused, its error line shown, then the right one."""
    return [{"do": "wait", "title": t[2006], "class": "#32770"},
            {"do": "focus", "id": 11,
             "check": window(title=t[2006], centred=True, focus=11, default=1,
                             texts={10: t[2007], 12: "", 14: t.get(2029, NOTE)},
                             buttons={1: t[2012], 2: t[2011]})},
            {"do": "fit", "check": texts_fit()},
            {"do": "click", "id": 1},
            {"do": "expect", "id": 12, "text": t[2008]},
            {"do": "fit", "check": all_of(texts_fit(), window(centred=True))},
            {"do": "type", "id": 11, "text": PASSWORD},
            {"do": "click", "id": 1}]


def conversation(name, pack, t, put=None):
    """Password (refused once), then the browser cancelled and the exit question answered Yes,
    every window in the texts `t` (by string id)."""
    return {"name": name, "files": FILES, "put": put or {},
            "pack": ["--ask-folder", "--encrypt", "--password", PASSWORD, *pack],
            "steps": [{"do": "wait", "class": "QuorvantaSelfExtractorWindow", "title": t[2000]},
                      *password_refused_once(t),
                      {"do": "wait", "title": t[2002], "class": "#32770",
                       "check": all_of(window(centred=True), shows(t[2003]))},
                      {"do": "browse", "button": "cancel"},
                      # A message box's buttons are the system's, in its language: the
                      # prefix's English here.
                      {"do": "wait", "title": t[2004], "class": "#32770",
                       "check": message_box(t[2004], t[2017], {6: "&Yes", 7: "&No"})},
                      {"do": "click", "id": 6},
                      {"do": "gone"}]}


LANGUAGES = Path(__file__).resolve().parents[3] / "resources" / "languages"
# The Unix locale of a system set to each shipped language whose ANSI code page is not the test
# prefix's 1252; Wine takes the code page from it.
LOCALES = {"cs": "cs_CZ.UTF-8", "ja": "ja_JP.UTF-8", "ko": "ko_KR.UTF-8", "pl": "pl_PL.UTF-8",
           "ru": "ru_RU.UTF-8", "tr": "tr_TR.UTF-8", "uk": "uk_UA.UTF-8",
           "zh-CN": "zh_CN.UTF-8"}
# The systems each language's dialogs are shown on: one set to the language, and, for the
# languages that 1252 cannot spell, the test prefix as it is.
SYSTEMS = {code: [locale, None] for code, locale in LOCALES.items()}
# A welcome question (and its title) asked first, in the languages whose letters 1252 lacks
# entirely or in part.
WELCOME = {"pl": ("Czy zainstalować żółtą łódź?", "Instalacja łodzi"),
           "ru": ("Установить программу?", "Установка программы")}


def shipped_texts(code):
    """A shipped language's texts by string id, as its texts file gives them."""
    texts = {}
    for line in (LANGUAGES / f"{code}.txt").read_text(encoding="utf-8").splitlines():
        if line and not line.startswith("#"):
            key, _, text = line.partition("=")
            texts[int(key)] = text.replace("\\n", "\r\n")
    return texts


def dialogs_in(code, locale):
    """Both of the stub's dialogs in one run, in the language `code` and its code page, on the
    system of the Unix `locale` (None: the test prefix's): the welcome question where the
    language has one, the password dialog, its error line after an empty password, then the
    right password, and the delete question after the setup program failed. Every text is the
    language's, read back as it was written, and fits its control."""
    t = shipped_texts(code)
    welcome = []
    pack = ["--language", code, *ENCRYPTED, "--run", "setup.exe", "--program-in-destination",
            "--wait-and-delete"]
    if code in WELCOME:
        question, title = WELCOME[code]
        pack += ["--welcome", question, "--title", title]
        # The message box's buttons are the system's, in its language: not the archive's.
        welcome = [{"do": "wait", "title": title, "class": "#32770",
                    "check": window(title=title, texts={65535: question})},
                   {"do": "click", "id": 6}]
    on_1252 = code in LOCALES and locale is None
    sc = {"name": f"dialogs_in_{code}" + ("_on_1252" if on_1252 else ""), "mkdirs": ["dest"],
          "pack": pack,
          "files": {"setup.cfg": b"mark ran.txt\nexit 1", "setup.exe": Tool("setup")},
          "steps": [*welcome, *password_refused_once(t),
                    {"do": "wait", "title": t[2004], "class": "#32770"},
                    {"do": "focus", "id": 6,
                     "check": window(title=t[2004], centred=True, focus=6, default=6,
                                     texts={10: t[2005]}, buttons={6: t[2009], 7: t[2010]})},
                    {"do": "fit", "check": texts_fit()},
                    {"do": "click", "id": 6},
                    {"do": "gone"}],
          "written": {"dest/ran.txt": lambda data: data.lower().endswith(b"\\dest\\setup.exe")}}
    if locale:
        sc["locale"] = locale
    return sc


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

    conversation("german_conversation", ["--language", "de"], GERMAN),
    conversation("own_texts_conversation", ["--texts", "texts.txt"], OWN,
                 put={"texts.txt": OWN_TEXTS}),

    # The delete question after a failed setup program, in German; Ja deletes the items.
    {"name": "german_delete_question", "pack": ["--language", "de", "--dest", "{run}\\dest",
                                                "--run", "setup.exe", "--program-in-destination",
                                                "--wait-and-delete"],
     "files": {"setup.cfg": b"mark ran.txt\nexit 1", "setup.exe": Tool("setup")},
     "mkdirs": ["dest"],
     "steps": [{"do": "wait", "title": GERMAN[2004], "class": "#32770"},
               {"do": "focus", "id": 6,
                "check": window(title=GERMAN[2004], centred=True, focus=6, default=6,
                                texts={10: GERMAN[2005]},
                                buttons={6: GERMAN[2009], 7: GERMAN[2010]})},
               {"do": "click", "id": 6},
               {"do": "gone"}],
     "written": {"dest/ran.txt": lambda data: data.lower().endswith(b"\\dest\\setup.exe")}},

    *[dialogs_in(path.stem, locale) for path in sorted(LANGUAGES.glob("*.txt"))
      for locale in SYSTEMS.get(path.stem, [None])],

    # A Russian archive on a Russian system: the password is typed, and the names written, in
    # code page 1251, the archive's.
    {"name": "russian_password_and_names", "locale": LOCALES["ru"], "mkdirs": ["dest"],
     "files": {"файл.txt": TEXT, "Данные.bin": DATA},
     "pack": ["--language", "ru", "--dest", "{run}\\dest", "--encrypt", "--password", "пароль"],
     "steps": [{"do": "wait", "title": shipped_texts("ru")[2006], "class": "#32770"},
               {"do": "focus", "id": 11},
               {"do": "type", "id": 11, "text": "пароль"},
               {"do": "click", "id": 1},
               {"do": "gone"}],
     "written": {"dest/файл.txt": "файл.txt", "dest/Данные.bin": "Данные.bin"}},

    # A fixed message: the header gone from a German archive.
    {"name": "german_missing_header", "files": FILES, "pack": ["--language", "de", "--temp"],
     "craft": lambda archive: archive.rewrite(drop=["HEADER"]),
     "steps": [{"do": "wait", "title": GERMAN[2013], "class": "#32770",
                "check": message_box(GERMAN[2013], GERMAN[2021], {1: "OK"})},
               {"do": "click", "id": 1},
               {"do": "gone"}]},

    # The switches and exit codes of /? in the archive's language, and a refused switch in
    # Russian, in the code page of a Russian system.
    {"name": "german_usage_box", "files": FILES, "pack": ["--language", "de", "--temp"],
     "args": "/?",
     "steps": [{"do": "wait", "title": shipped_texts("de")[2018], "class": "#32770",
                "check": message_box(shipped_texts("de")[2018], shipped_texts("de")[2030],
                                     {1: "OK"})},
               {"do": "click", "id": 1}]},
    {"name": "russian_switch_refused", "files": FILES, "pack": ["--language", "ru", "--temp"],
     "locale": LOCALES["ru"], "args": "/bogus",
     "steps": [{"do": "wait", "title": shipped_texts("ru")[2013], "class": "#32770",
                # The box's button is the system's, in Russian there.
                "check": window(title=shipped_texts("ru")[2013], texts={
                    65535: shipped_texts("ru")[2031].replace("%s", "/bogus") + "\r\n\r\n"
                    + shipped_texts("ru")[2030]})},
               {"do": "click", "id": 1}],
     "exit_code": 2},
]
