"""Runs the launcher under Wine against a sample installation.

The sample: C:\\Games\\Kelvaro\\ with its six files last written before the
freshness cut-off and version "1.00" recorded, so the launcher offers the
version-up. The prefix is fresh and is removed afterwards.

With a display to show it on (DISPLAY reachable, not CI) the user answers the
dialog; the run waits for the launcher to end (at most --answer-minutes) and
reports what changed. Without one it runs on its own X server, waits for the
dialog, saves a screenshot, prints the screenshot's path and the dialog's
texts, and answers No.
"""

import argparse
import os
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from kvwine import (  # noqa: E402
    IDCANCEL, IDOK, REPO_ROOT, Installation, WineError, WineSession, default_build_dir,
    display_reachable)


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


def describe_state(snapshot):
    lines = []
    for (key, value), found in snapshot["registry"].items():
        name = key + ("\\" + value if value else " (default)")
        shown = decoded(found[1].rstrip(b"\0")) if found else "(none)"
        lines.append(f"registry {name} = {shown}")
    for name, (size, mtime_ns) in snapshot["files"].items():
        lines.append(f"file {name}: {size} bytes, last written {utc(mtime_ns)}")
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
            lines.append(f"file {name}: {utc(old[1]) if old else 'none'} -> {utc(new[1]) if new else 'gone'}")
    return lines or ["nothing changed"]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", type=Path, default=default_build_dir(),
                        help="the x86_64 build with KvWin101.exe and the helpers")
    parser.add_argument("--out", type=Path, default=REPO_ROOT / "build" / "run-sample",
                        help="where the screenshot goes")
    mode = parser.add_mutually_exclusive_group()
    mode.add_argument("--headless", action="store_true", help="own X server, answer No")
    mode.add_argument("--interactive", action="store_true", help="show on $DISPLAY, the user answers")
    parser.add_argument("--answer-minutes", type=float, default=30,
                        help="how long an interactive run waits for the answer")
    args = parser.parse_args()

    display = os.environ.get("DISPLAY")
    interactive = args.interactive or (not args.headless and not os.environ.get("CI")
                                       and display_reachable(display))
    started = time.monotonic()
    print(f"sample run: {'on ' + display if interactive else 'headless, on an X server of its own'}",
          flush=True)
    # On a real display the window manager draws the frames; headless, Wine's
    # own desktop window does.
    session = WineSession(args.build_dir, display=display if interactive else None,
                          virtual_desktop=not interactive)
    try:
        session.start()
        installation = Installation(session)
        installation.lay_out(version="1.00")
        before = installation.snapshot()
        kept = f" (kept: {session.prefix})" if session.keep else ""
        print(f"fresh Wine prefix ready after {time.monotonic() - started:.1f} s{kept}; "
              f"installation {installation.directory}, version 1.00", flush=True)

        with session.launch() as launch:
            if interactive:
                print(f"answer the launcher's dialog (waiting up to {args.answer_minutes:g} minutes)",
                      flush=True)
                launch.wait_exit(timeout=args.answer_minutes * 60)
            else:
                window = launch.wait_window()
                shot = session.screenshot(args.out / "dialog.png")
                print(f"screenshot: {shot}")
                show_window(window)
                if window.kind == "dialog":
                    print("answering No")
                    launch.press(window, IDCANCEL)
                else:
                    print("answering OK")
                    launch.press(window, IDOK)
                launch.wait_gone()
                launch.wait_exit()
        print("the launcher has ended; afterwards:")
        after = installation.snapshot()
        for line in describe_state(after):
            print("  " + line)
        print("changes:")
        for line in describe_change(before, after):
            print("  " + line)
    except WineError as error:
        print(f"sample run failed: {error}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("interrupted", file=sys.stderr)
        return 130
    finally:
        session.stop()
    print(f"done in {time.monotonic() - started:.1f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
