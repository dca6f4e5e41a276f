"""Checks that scenarios attach to driver steps.

A check is a function (result, info) -> list of problems (strings); an empty list passes.
`result` is the step's JSON result from the driver, `info` the driver's `info` result (screen
metrics, the temporary and Desktop folders) with "run", the run folder's Windows path, added.
Expected texts may hold "{run}".
"""

import re

OFF_SCREEN = (-1000, -1000)
MTIME_TICK_MS = 10
BS_TYPEMASK = 0x0F
BS_DEFPUSHBUTTON = 0x01
# A push button draws its caption inside its frame: the default button's outline and the
# two-pixel edge take three pixels on each side.
BUTTON_FRAME = 3

# The sampler's runs bound each move only to within the gap between two samples; wider gaps
# (a starved sampler) would make any duration pass.
MAX_SAMPLING_SLACK_MS = 250


def centre(info, width, height):
    """Where a window of this size is centred: on the full-screen client area, as the stub and
    its dialogs centre themselves (the division truncates toward zero)."""
    return (int((info["fullscreen_w"] - width) / 2), int((info["fullscreen_h"] - height) / 2))


def expand_line_breaks(text: str) -> str:
    """What the stub's information box makes of a text: every backslash-n pair becomes CR LF."""
    return text.replace("\\n", "\r\n")


def run_path(text: str, info) -> str:
    return text.replace("{run}", info.get("run", "{run}"))


def window(title=None, cls=None, width=None, height=None, texts=None, buttons=None,
           centred=False, focus=None, default=None):
    """The waited-for window has this title, class and size; `texts` maps control ids to their
    text; `buttons`, when given, maps the ids of all its buttons to their captions. `centred`:
    it sits where the stub centres windows; `focus`: that control has the focus (check it on a
    `focus` step, which waits for it); `default`: that button is the default push button."""
    def check(result, info):
        w = result["window"]
        problems = []
        if title is not None and w["title"] != title:
            problems.append(f"title {w['title']!r}, expected {title!r}")
        if cls is not None and w["class"] != cls:
            problems.append(f"class {w['class']!r}, expected {cls!r}")
        size = (w["rect"]["w"], w["rect"]["h"])
        if width is not None and size != (width, height):
            problems.append(f"size {size[0]}x{size[1]}, expected {width}x{height}")
        if centred and (w["rect"]["x"], w["rect"]["y"]) != centre(info, *size):
            problems.append(f"at {w['rect']['x']},{w['rect']['y']}, expected the centre "
                            f"{centre(info, *size)}")
        by_id = {c["id"]: c for c in w["children"]}
        for cid, text in (texts or {}).items():
            text = run_path(text, info)
            if cid not in by_id:
                problems.append(f"no control {cid}")
            elif by_id[cid]["text"] != text:
                problems.append(f"control {cid} says {by_id[cid]['text']!r}, expected {text!r}")
        if focus is not None:
            focused = [c["id"] for c in w["children"] if c["focus"]]
            if focused != [focus]:
                problems.append(f"the focus is on {focused}, expected [{focus}]")
        if default is not None:
            if default not in by_id:
                problems.append(f"no control {default}")
            elif by_id[default]["style"] & BS_TYPEMASK != BS_DEFPUSHBUTTON:
                problems.append(f"button {default} is not the default button")
        if buttons is not None:
            found = {c["id"]: c["text"] for c in w["children"]
                     if c["class"].lower() == "button" and c["visible"]}
            if found != buttons:
                problems.append(f"buttons {found}, expected {buttons}")
        return problems
    return check


def texts_fit():
    """For a `fit` step: no static text or button caption of the window is wider or taller
    than its control leaves room for, reaches out of the window's client area or lies under
    another control, so none is cut or hidden."""
    def overlap(a, b):
        return (a["x"] < b["x"] + b["w"] and b["x"] < a["x"] + a["w"]
                and a["y"] < b["y"] + b["h"] and b["y"] < a["y"] + a["h"])

    def check(result, info):
        problems = []
        area = result["client"]
        shown = [c for c in result["window"]["children"] if c["visible"]]
        for fit in result["fit"]:
            frame = 2 * BUTTON_FRAME if fit["button"] else 0
            need = (fit["w"] + frame, fit["h"])
            if need[0] > fit["room_w"] or need[1] > fit["room_h"]:
                problems.append(f"control {fit['id']} is {fit['room_w']}x{fit['room_h']} for "
                                f"{fit['text']!r}, which needs {need[0]}x{need[1]}")
            text = {**fit["at"], "w": fit["w"], "h": fit["h"]}
            if (text["x"] < area["x"] or text["y"] < area["y"]
                    or text["x"] + text["w"] > area["x"] + area["w"]
                    or text["y"] + text["h"] > area["y"] + area["h"]):
                problems.append(f"{fit['text']!r} at {text} reaches out of the client area "
                                f"{area}")
            problems += [f"{fit['text']!r} at {text} lies under control {c['id']}"
                         for c in shown if c["id"] != fit["id"] and overlap(text, c["rect"])]
        return problems
    return check


def progress_bar_inside():
    """The window shows a progress bar, whole inside its frame."""
    def check(result, info):
        w = result["window"]
        bars = [c for c in w["children"] if c["class"].lower() == "msctls_progress32"]
        if len(bars) != 1 or not bars[0]["visible"]:
            return [f"{len(bars)} progress bars, expected one visible"]
        outer, bar = w["rect"], bars[0]["rect"]
        if (bar["x"] < outer["x"] or bar["y"] < outer["y"]
                or bar["x"] + bar["w"] > outer["x"] + outer["w"]
                or bar["y"] + bar["h"] > outer["y"] + outer["h"]):
            return [f"the progress bar at {bar} reaches out of the window at {outer}"]
        return []
    return check


def message_box(caption, text, buttons):
    """A message box: Wine's (and Windows') MessageBox puts its text in static 65535."""
    return window(title=caption, cls="#32770", texts={65535: text}, buttons=buttons)


def shows(text):
    """Some control of the window says `text`."""
    def check(result, info):
        texts = [c["text"] for c in result["window"]["children"]]
        return [] if text in texts else [f"no control says {text!r}; they say {texts}"]
    return check


def all_of(*checks):
    return lambda result, info: [p for check in checks for p in check(result, info)]


def information(text):
    """The stub's information box, showing `text` ({run} replaced) after its line-break
    expansion."""
    def check(result, info):
        shown = expand_line_breaks(run_path(text, info))
        return message_box("Information", shown, {1: "OK"})(result, info)
    return check


def selection(cid, start, end):
    """Edit control `cid` has the characters from `start` to `end` selected."""
    def check(result, info):
        for c in result["window"]["children"]:
            if c["id"] == cid:
                return [] if c.get("sel") == [start, end] else \
                    [f"control {cid} has {c.get('sel')} selected, expected {[start, end]}"]
        return [f"no control {cid}"]
    return check


def never_seen(title):
    """For the exit step: no window of the program bore this title while the driver waited."""
    def check(result, info):
        seen = [w for w in result["seen"] if w["title"] == title]
        return [f"a {title!r} window appeared"] if seen else []
    return check


def never_on_screen():
    """For the exit step of a scenario that watched a window: it stayed at (-1000, -1000)."""
    def check(result, info):
        watch = result.get("watch")
        if not watch or not watch["runs"]:
            return ["the window was not watched"]
        places = sorted({(r["x"], r["y"]) for r in watch["runs"]} - {OFF_SCREEN})
        return [f"the window came to {places}"] if places else []
    return check


def pause_between(earlier, later, min_ms):
    """For `after`: the last change of `later` (a file, or a folder that files left) came at
    least min_ms after the last write of `earlier`. The file system's own times tell, so a busy
    machine that is slow to look cannot shorten the pause. Its clock ticks in a few ms."""
    def check(run):
        try:
            gap = ((run / later).stat().st_mtime_ns - (run / earlier).stat().st_mtime_ns) / 1e6
        except OSError as e:
            return [str(e)]
        return [] if gap >= min_ms - MTIME_TICK_MS else \
            [f"{later} changed {gap:.0f} ms after {earlier}, expected at least {min_ms}"]
    return check


def centred_display(width, height, min_ms, must_return=True):
    """For the exit step of a scenario that watched a window: it had this size throughout, sat
    at (-1000, -1000), was centred once for at least min_ms, then went back off the screen (or,
    with must_return false, went back or ended: a window destroyed right after leaving the
    screen may vanish between two samples)."""
    def check(result, info):
        watch = result.get("watch")
        if not watch or not watch["runs"]:
            return ["the window was not watched"]
        runs = list(watch["runs"])
        # Destroying a window hides it first: its last visible moment ends the display. The
        # program may end before the watch sees the window gone, so hidden samples at the very
        # end count as its destruction too; hidden samples before a visible one do not.
        end = watch.get("gone")
        while len(runs) > 1 and not runs[-1]["visible"]:
            end = runs.pop()["first"]
        problems = []
        sizes = {(r["w"], r["h"]) for r in runs}
        if sizes != {(width, height)}:
            problems.append(f"sizes {sorted(sizes)}, expected {width}x{height}")
        if not all(r["visible"] for r in runs):
            problems.append("the window was hidden while it existed")
        centred = centre(info, width, height)
        places = []
        for r in runs:
            place = (r["x"], r["y"])
            if not places or places[-1] != place:
                places.append(place)
        expected = [OFF_SCREEN, centred, OFF_SCREEN]
        allowed = [expected] if must_return else [expected, expected[:2]]
        if places not in allowed:
            return problems + [f"positions {places}, expected {expected}"]
        i = next(k for k, r in enumerate(runs) if (r["x"], r["y"]) == centred)
        j = max(k for k, r in enumerate(runs) if (r["x"], r["y"]) == centred)
        shortest = runs[j]["last"] - runs[i]["first"]
        ended = runs[j + 1]["first"] if j + 1 < len(runs) else end
        if ended is None:
            return problems + ["the watch stopped while the window was centred"]
        longest = ended - runs[i - 1]["last"]
        if longest - shortest > MAX_SAMPLING_SLACK_MS:
            problems.append(f"sampling too coarse to judge: centred between {shortest} and "
                            f"{longest} ms")
        elif longest < min_ms:
            problems.append(f"centred for at most {longest} ms, expected at least {min_ms}")
        return problems
    return check


def progress(total, moves=False, ends_full=False):
    """For the exit step of a scenario that watched a progress bar (watch what=progress): once
    its range was set it measured 0 to `total`, its position never went back, and (`moves`) it
    was read between empty and full, (`ends_full`) its last reading was full. A bar is read only
    when its program takes messages, so a short write may pass unseen and a window destroyed
    right after it is full may not be read again."""
    def check(result, info):
        watch = result.get("progress")
        if not watch or not watch["runs"]:
            return ["the progress bar was not watched"]
        runs = watch["runs"]
        ranged = [r for r in runs if (r["low"], r["high"]) == (0, total)]
        if not ranged:
            ranges = sorted({(r["low"], r["high"]) for r in runs})
            return [f"ranges {ranges}, expected (0, {total})"]
        problems = []
        later = runs[runs.index(ranged[0]):]
        if later != ranged:
            problems.append(f"the range changed after it was set: {later}")
        positions = [r["pos"] for r in ranged]
        if positions != sorted(positions):
            problems.append(f"the position went back: {positions}")
        if moves and not any(0 < p < total for p in positions):
            problems.append(f"never read between empty and full: {positions}")
        if ends_full and positions[-1] != total:
            problems.append(f"the last position read is {positions[-1]}, expected {total}")
        return problems
    return check


def log_holds(*parts):
    """For `written`: a run log whose lines, each after its local time, hold `parts` in this
    order (a later part in a later line)."""
    stamp = re.compile(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d ")

    def check(data):
        lines = data.decode("utf-8").split("\r\n")
        if lines[-1] != "" or not all(stamp.match(line) for line in lines[:-1]):
            return False
        at = 0
        for part in parts:
            while at < len(lines) and part not in lines[at]:
                at += 1
            if at == len(lines):
                return False
            at += 1
        return True
    return check
