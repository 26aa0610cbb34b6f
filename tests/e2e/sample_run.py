"""Runs the whole version-up under Wine on a sample installation.

The sample: C:\\Games\\Kelvaro\\ with its six files last written before the
freshness cut-off and version "1.00" recorded, so the launcher (the x86_64
build, carrying the sample update program) offers the version-up. The prefix
is fresh and is removed afterwards.

With a display to show it on (DISPLAY reachable, not CI) the user answers the
dialog and the boxes. Without one it runs on its own X server and answers Yes
itself, saving screenshots of the dialog, of the update program at work and of
the result box. Either way it then prints the outcome, the version record and
the files' last-write times, and last starts the launcher once more on the
upgraded installation, which should now report that it is already current.
"""

import argparse
import os
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from kvwine import (  # noqa: E402
    ALREADY_CURRENT, FRESHNESS_CUTOFF_NS, IDCANCEL, IDOK, INSTALLED_FILES, REPO_ROOT, VERSION_KEY,
    VERSION_VALUE, Installation, WineError, WineSession, cp932, default_build_dir, display_reachable)

# The sample update program's own window.
SAMPLE_UPDATE_TITLE = "Kelvaro for Win update"
SAMPLE_UPDATE_CLASS = "KvSampleUpdate"
SCREENSHOTS = ("dialog.png", "update-program.png", "result.png", "next-start.png")
# The sample update program shows its window for about a second; the result
# box follows it.
UPDATE_WINDOW_TIMEOUT = 10
RESULT_TIMEOUT = 60


def decoded(data):
    return data.decode("cp932", errors="replace")


def show_window(window):
    print(f"caption: {decoded(window.caption)}")
    if window.kind == "box":
        print("message:")
        print("  " + decoded(window.text).replace("\n", "\n  "))
        return
    print("controls:")
    for control in window.controls:
        text = control["text"]
        # An icon static's window text names its resource, not a text to read.
        if not text or (control["class"].lower() == "static" and (control["style"] & 0x1F) == 0x03):
            continue
        shown = decoded(text).replace("\t", "    ").replace("\n", "\n      ")
        print(f"  [{control['id']:>5}] {shown}")


def utc(ns):
    return time.strftime("%Y-%m-%d %H:%M:%S UTC", time.gmtime(ns // 10**9))


def windows_name(relative):
    return relative.replace("/", "\\")


def describe_state(snapshot):
    lines = []
    for (key, value), found in snapshot["registry"].items():
        name = key + ("\\" + value if value else " (default)")
        shown = decoded(found[1].rstrip(b"\0")) if found else "(none)"
        lines.append(f"registry {name} = {shown}")
    for name, (size, mtime_ns) in snapshot["files"].items():
        side = "after" if mtime_ns >= FRESHNESS_CUTOFF_NS else "before"
        lines.append(f"file {windows_name(name)}: {size} bytes, last written {utc(mtime_ns)} ({side} the cut-off)")
    return lines


def describe_change(before, after):
    lines = []
    for key, value in after["registry"].items():
        if before["registry"].get(key) != value:
            name = key[0] + ("\\" + key[1] if key[1] else " (default)")
            old, new = before["registry"].get(key), value
            lines.append(f"registry {name}: {old[1] if old else None!r} -> {new[1] if new else None!r}")
    for name in sorted(set(before["files"]) | set(after["files"])):
        old, new = before["files"].get(name), after["files"].get(name)
        if old != new:
            lines.append(f"file {windows_name(name)}: {utc(old[1]) if old else 'none'} -> "
                         f"{utc(new[1]) if new else 'gone'}")
    return lines or ["nothing changed"]


def version_record(snapshot):
    found = snapshot["registry"].get((VERSION_KEY, VERSION_VALUE))
    return decoded(found[1].rstrip(b"\0")) if found else None


def all_fresh(installation):
    return all(installation.path(name).is_file()
               and installation.path(name).stat().st_mtime_ns >= FRESHNESS_CUTOFF_NS for name in INSTALLED_FILES)


class SampleRun:
    """The two starts of the launcher, answered by the user or by this script."""

    def __init__(self, session, interactive, out, answer_minutes):
        self.session = session
        self.interactive = interactive
        self.out = out
        self.answer_seconds = answer_minutes * 60
        self.shots = []

    def shot(self, name):
        self.shots.append(self.session.screenshot(self.out / name))

    def version_up(self):
        """The first start: the dialog, Yes, the update program, the result box."""
        with self.session.launch() as launch:
            if self.interactive:
                print(f"answer the launcher's dialog, then its result box (waiting up to "
                      f"{self.answer_seconds / 60:g} minutes)", flush=True)
                launch.wait_exit(timeout=self.answer_seconds)
                return
            dialog = launch.wait_window()
            self.shot("dialog.png")
            show_window(dialog)
            if dialog.kind != "dialog":
                print("the launcher did not offer the version-up; answering OK")
                launch.press(dialog, IDOK)
                launch.wait_gone()
                launch.wait_exit()
                return
            print("answering Yes", flush=True)
            launch.press(dialog, IDOK)
            try:
                self.session.wait_top_window(SAMPLE_UPDATE_TITLE, SAMPLE_UPDATE_CLASS,
                                             timeout=UPDATE_WINDOW_TIMEOUT)
                self.shot("update-program.png")
                print("the update program is at work")
            except WineError:
                print("(the update program's window came and went unseen)")
            box = launch.wait_window(kind="box", timeout=RESULT_TIMEOUT)
            launch.bring_forward(box)
            self.shot("result.png")
            show_window(box)
            print("answering OK")
            launch.press(box, IDOK)
            launch.wait_gone()
            launch.wait_exit()

    def next_start(self):
        """The second start, on the upgraded installation. True when it reports
        the installation already current."""
        with self.session.launch() as launch:
            if self.interactive:
                print("it should say that the installation is already current; dismiss its box",
                      flush=True)
            window = launch.wait_window(timeout=60)
            current = window.kind == "box" and window.text == cp932(ALREADY_CURRENT)
            if self.interactive:
                launch.wait_exit(timeout=self.answer_seconds)
                return current
            self.shot("next-start.png")
            show_window(window)
            launch.press(window, IDOK if window.kind == "box" else IDCANCEL)
            launch.wait_gone()
            launch.wait_exit()
            return current


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", type=Path, default=default_build_dir(),
                        help="the x86_64 build with KvWin101.exe and the helpers")
    parser.add_argument("--out", type=Path, default=REPO_ROOT / "build" / "run-sample",
                        help="where the screenshots go")
    mode = parser.add_mutually_exclusive_group()
    mode.add_argument("--headless", action="store_true", help="own X server, answer Yes")
    mode.add_argument("--interactive", action="store_true", help="show on $DISPLAY, the user answers")
    parser.add_argument("--answer-minutes", type=float, default=30,
                        help="how long an interactive run waits for each answer")
    args = parser.parse_args()

    display = os.environ.get("DISPLAY")
    interactive = args.interactive or (not args.headless and not os.environ.get("CI")
                                       and display_reachable(display))
    started = time.monotonic()
    print(f"sample run: {'on ' + display if interactive else 'headless, on an X server of its own'}",
          flush=True)
    if not interactive:
        for name in SCREENSHOTS:
            (args.out / name).unlink(missing_ok=True)
    # On a real display the window manager draws the frames; headless, Wine's
    # own desktop window does.
    session = WineSession(args.build_dir, display=display if interactive else None,
                          virtual_desktop=not interactive)
    run = None
    try:
        session.start()
        installation = Installation(session)
        installation.lay_out(version="1.00")
        before = installation.snapshot()
        kept = f" (kept: {session.prefix})" if session.keep else ""
        print(f"fresh Wine prefix ready after {time.monotonic() - started:.1f} s{kept}; "
              f"installation {installation.directory}, version 1.00, files from before the cut-off",
              flush=True)

        run = SampleRun(session, interactive, args.out, args.answer_minutes)
        run.version_up()
        after = installation.snapshot()
        record = version_record(after)
        completed = record == "1.01" and all_fresh(installation)
        print("the launcher has ended.")
        print("outcome: " + ("the version-up completed" if completed else "the version-up did not complete"))
        print(f"version record {VERSION_KEY}\\{VERSION_VALUE}: {record if record is not None else '(none)'}")
        print("afterwards:")
        for line in describe_state(after):
            print("  " + line)
        print("changes:")
        for line in describe_change(before, after):
            print("  " + line)

        if not completed:
            print("not starting it once more: the installation was not brought to 1.01")
            # A user may well have answered No; answering for the user, Yes was meant to succeed.
            return 0 if interactive else 1
        print("starting the launcher once more on the upgraded installation", flush=True)
        current = run.next_start()
        unchanged = installation.snapshot() == after
        if current and unchanged:
            print("the second start reports that the installation is already current, and changes nothing")
        else:
            print("the second start did not report the installation as already current"
                  + ("" if unchanged else ", and it changed something"))
            return 1
    except WineError as error:
        print(f"sample run failed: {error}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("interrupted", file=sys.stderr)
        return 130
    finally:
        session.stop()
        if run is not None and run.shots:
            print(f"screenshots in {args.out}: {', '.join(p.name for p in run.shots)}")
        print(f"done in {time.monotonic() - started:.1f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
