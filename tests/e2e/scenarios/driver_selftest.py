"""The harness drives its own test program, whose behaviour is fixed, so that a fault of the driver
or of the runner shows apart from a fault of the stub."""

from checks import centred_display, message_box, window

FORM = {"program": "testapp", "args": "form {run}\\out.txt"}

# The question box, answered Yes, then the form.
TO_FORM = [
    {"do": "wait", "title": "E2E Test", "class": "#32770",
     "check": message_box("E2E Test", "Fill in the form?", {6: "&Yes", 7: "&No"})},
    {"do": "click", "id": 6},
    {"do": "gone"},
    {"do": "wait", "class": "VexaE2EForm", "check": window(title="E2E Form")},
]

SCENARIOS = [
    {**FORM, "name": "driver_settext_click",
     "steps": TO_FORM + [{"do": "settext", "id": 100, "text": "hello, world"},
                         {"do": "click", "id": 1}],
     "written": {"out.txt": b"hello, world"}},

    # Posted keys pass through the program's own dialog-message handling, as typed keys do.
    {**FORM, "name": "driver_type_tab_enter",
     "steps": TO_FORM + [{"do": "focus", "id": 100},
                         {"do": "type", "id": 100, "text": "typed"},
                         {"do": "key", "name": "tab"},
                         {"do": "focus", "id": 1},
                         {"do": "key", "name": "enter"}],
     "written": {"out.txt": b"typed"}},

    {**FORM, "name": "driver_key_esc",
     "steps": TO_FORM + [{"do": "key", "name": "esc"}],
     "exit_code": 4},

    {**FORM, "name": "driver_close_box",
     "steps": TO_FORM + [{"do": "close"}],
     "exit_code": 5},

    {**FORM, "name": "driver_box_no_bm_click",
     "steps": TO_FORM[:1] + [{"do": "click", "id": 7, "how": "bm_click"}],
     "exit_code": 3},

    # The mover is centred for 800 ms, by the same rule as the stub's status window.
    {"name": "driver_watch", "program": "testapp", "args": "move",
     "steps": [{"do": "wait", "class": "VexaE2EMover",
                "check": window(title="E2E Mover", width=200, height=80)},
               {"do": "watch"}],
     "exit_checks": [centred_display(200, 80, 800)]},

    # Wine's browser selects the Desktop folder when it opens; Windows selects nothing until
    # the user does, so OK there answers differently.
    {"name": "driver_browse_ok", "program": "testapp", "args": "browse {run}\\out.txt",
     "steps": [{"do": "wait", "title": "E2E Browse", "class": "#32770"},
               {"do": "browse", "button": "ok"}],
     "written": {"out.txt": lambda path: path.lower().endswith(b"\\desktop")}},

    {"name": "driver_browse_cancel", "program": "testapp", "args": "browse {run}\\out.txt",
     "steps": [{"do": "wait", "title": "E2E Browse", "class": "#32770"},
               {"do": "browse", "button": "cancel"}],
     "exit_code": 6},
]
