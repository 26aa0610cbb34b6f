"""Runs the launcher's x86_64 build under Wine and acts as its user.

A WineSession owns one X display (its own Xvfb unless told otherwise), one
fresh Wine prefix and a helper that keeps a hidden window open, so that Wine's
desktop stays up and every launch is quick. Installation lays out the game's
files and registry entries in that prefix. Launch starts the launcher and
drives its windows through the kvdriver helper, which prints every text as
exact code page 932 bytes.

Every wait here has a bound; a wait that runs out raises WineError with what
was seen. Standard library only.
"""

import atexit
import contextlib
import json
import os
import re
import select
import shutil
import signal
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

REPO_ROOT = Path(__file__).resolve().parents[2]

# What the launcher shows, as Unicode; compared as code page 932 bytes.
CAPTION = "Kelvaro for Win ﾊﾞｰｼﾞｮﾝｱｯﾌﾟ"
WAIT_FAILED_CAPTION = "CreateProcess Error"
# The verdict of a version-up, and what a start on a current installation says.
UPDATE_COMPLETED = "ﾊﾞｰｼﾞｮﾝｱｯﾌﾟが完了しました。"
UPDATE_NOT_COMPLETED = "ﾊﾞｰｼﾞｮﾝｱｯﾌﾟが完了しませんでした。再ｲﾝｽﾄｰﾙ後、もう一度実行してください。"
ALREADY_CURRENT = "すでに最新のﾊﾞｰｼﾞｮﾝがｲﾝｽﾄｰﾙされているので、ｱｯﾌﾟﾃﾞｰﾄの必要はありません。"
LAUNCHER_CAPTIONS = (CAPTION, WAIT_FAILED_CAPTION)

IDOK = 1
IDCANCEL = 2
IDC_INSTALL_INFO = 1000
# The static control that holds a message box's text (0xFFFF as a word ID).
BOX_TEXT_ID = 0xFFFF

APP_PATHS_KEY = r"Software\Microsoft\Windows\CurrentVersion\App Paths\KvWin.exe"
VERSION_KEY = r"Software\Tovrelund\Kelvaro"
VERSION_VALUE = "ExeVersion"

INSTALLED_FILES = (
    "KvWin.exe", "KvBc.exe", "KvRace.exe", "KvVtr.exe",
    r"Help\body.html", r"Help\menu.html",
)

# 2000-06-06 15:00:00 UTC in nanoseconds since 1970: files last written at or
# after it count as fresh.
FRESHNESS_CUTOFF_NS = 960303600 * 10**9
# The sample installation's files date from before the cut-off.
OLD_TIME_NS = FRESHNESS_CUTOFF_NS - 30 * 86400 * 10**9

# Bounds of the waits (seconds).
BOOT_TIMEOUT = 180
COMMAND_TIMEOUT = 60
WINDOW_TIMEOUT = 20
EXIT_TIMEOUT = 15
SERVER_PERSISTENCE = "-p60"


class WineError(Exception):
    pass


def cp932(text):
    return text.encode("cp932")


def hex_cp932(text):
    return cp932(text).hex()


def describe_bytes(data):
    """Bytes for a failure message: decoded where possible, and as hex."""
    try:
        shown = data.decode("cp932")
    except UnicodeDecodeError:
        shown = "<not cp932>"
    return f"{shown!r} ({data.hex()})"


def _deadline_wait(process, timeout, what):
    try:
        return process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait(timeout=10)
        raise WineError(f"{what}: still running after {timeout} s; stopped") from None


def _readable(value):
    """Driver output with its hex texts decoded, for failure messages."""
    if isinstance(value, list):
        return [_readable(item) for item in value]
    if isinstance(value, dict):
        shown = {}
        for key, item in value.items():
            if key in ("caption", "text", "class") and isinstance(item, str):
                with contextlib.suppress(ValueError):
                    item = bytes.fromhex(item).decode("cp932", errors="replace")
            shown[key] = _readable(item)
        return shown
    return value


class Xvfb:
    """An X server of our own on a free display number."""

    def __init__(self, width=1024, height=768):
        self.size = (width, height)
        self.process = None
        self.display = None

    def start(self, timeout=20):
        read_end, write_end = os.pipe()
        try:
            self.process = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                 f"{self.size[0]}x{self.size[1]}x24", "-nolisten", "tcp"],
                pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            os.close(write_end)
            write_end = None
            number = b""
            deadline = time.monotonic() + timeout
            while not number.endswith(b"\n"):
                left = deadline - time.monotonic()
                ready, _, _ = select.select([read_end], [], [], max(left, 0))
                if not ready:
                    raise WineError(f"Xvfb gave no display number within {timeout} s")
                chunk = os.read(read_end, 16)
                if not chunk:
                    raise WineError(f"Xvfb ended at start (exit {self.process.poll()})")
                number += chunk
            self.display = ":" + number.decode().strip()
        except BaseException:
            self.stop()
            raise
        finally:
            os.close(read_end)
            if write_end is not None:
                os.close(write_end)
        return self.display

    def stop(self):
        if self.process is not None and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=10)
        self.process = None


def display_reachable(display):
    """True when an X server answers on the display (within a few seconds)."""
    if not display or shutil.which("xdpyinfo") is None:
        return False
    try:
        result = subprocess.run(["xdpyinfo", "-display", display], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, timeout=5)
    except subprocess.TimeoutExpired:
        return False
    return result.returncode == 0


def default_build_dir():
    return Path(os.environ.get("KV_WIN64_BUILD_DIR", REPO_ROOT / "build" / "x86_64"))


class WineSession:
    """One prefix and display for a whole run of scenarios."""

    def __init__(self, build_dir=None, display=None, virtual_desktop=True, keep=None):
        self.build_dir = Path(build_dir) if build_dir else default_build_dir()
        self.launcher = self.build_dir / "KvWin101.exe"
        self.driver_exe = self.build_dir / "kvdriver.exe"
        self.hold_exe = self.build_dir / "kvhold.exe"
        self.display = display
        self.virtual_desktop = virtual_desktop
        self.keep = os.environ.get("KV_E2E_KEEP") == "1" if keep is None else keep
        self.xvfb = None
        self.root = None
        self.prefix = None
        self.env = None
        self.keepalive = None
        self.timings = {}

    # ---- set-up and tear-down ----

    def start(self):
        for exe in (self.launcher, self.driver_exe, self.hold_exe):
            if not exe.is_file():
                raise WineError(f"{exe} is missing: build the x86_64 programs first")
        try:
            self._start()
        except BaseException:
            self.stop()
            raise
        return self

    def _start(self):
        started = time.monotonic()
        self.root = Path(tempfile.mkdtemp(prefix="kv-e2e-"))
        self.prefix = self.root / "prefix"
        (self.root / "tmp").mkdir()
        if self.display is None:
            self.xvfb = Xvfb()
            self.display = self.xvfb.start()
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("WINE", "LC_")) and k not in ("WAYLAND_DISPLAY",)}
        env.update({
            "DISPLAY": self.display,
            "WINEPREFIX": str(self.prefix),
            "WINEARCH": "win64",
            "WINEDEBUG": "-all",
            # Code page 932 is the ANSI code page of a Japanese locale.
            "LANG": "ja_JP.UTF-8",
            "LC_ALL": "ja_JP.UTF-8",
            # No .NET or browser engine installers in a fresh prefix.
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
            # A Japanese user's clock: file times must be compared as UTC all the same.
            "TZ": "Asia/Tokyo",
        })
        self.env = env
        self.timings["xvfb"] = time.monotonic() - started

        # A server that stays up for the whole run, then the prefix, then a
        # warm-up call that starts Wine's services with no pipe to inherit. The
        # server outlives its last client by a minute only, so a run that is
        # killed leaves no server behind for long.
        self.prefix.mkdir()
        self._run(["wineserver", SERVER_PERSISTENCE], COMMAND_TIMEOUT, "wineserver -p")
        self._run(["wineboot", "-i"], BOOT_TIMEOUT, "wineboot -i")
        self._run(["wine", "cmd", "/c", "exit"], COMMAND_TIMEOUT, "warm-up")
        self.timings["prefix"] = time.monotonic() - started

        settings = [
            r"[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]",
            '"ＭＳ Ｐゴシック"="IPAPGothic"',
            '"ＭＳ ゴシック"="IPAGothic"',
            # The face of message boxes and captions.
            '"MS UI Gothic"="IPAPGothic"',
            "",
            # A crash ends the process instead of opening a dialog of its own.
            r"[HKEY_CURRENT_USER\Software\Wine\WineDbg]",
            '"ShowCrashDialog"=dword:00000000',
            "",
        ]
        if self.virtual_desktop:
            # Wine's own desktop window draws frames and captions without a
            # window manager.
            settings += [
                r"[HKEY_CURRENT_USER\Software\Wine\Explorer]",
                '"Desktop"="Default"',
                "",
                r"[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]",
                f'"Default"="{self.xvfb.size[0] if self.xvfb else 1024}x'
                f'{self.xvfb.size[1] if self.xvfb else 768}"',
                "",
            ]
        self.regedit(settings)
        # Wine's own faces (Marlett draws the caption buttons) where the
        # prefix's font folder has none of its own.
        wine_fonts = Path("/usr/share/wine/fonts")
        if wine_fonts.is_dir():
            for font in wine_fonts.glob("*.ttf"):
                target = self.drive_c / "windows" / "Fonts" / font.name
                if not target.exists():
                    shutil.copyfile(font, target)
        # The desktop that wineboot brought up does not read these settings:
        # restart the prefix's server so the next window starts the desktop anew.
        self._run(["wineserver", "-k"], COMMAND_TIMEOUT, "wineserver -k")
        self._run(["wineserver", "-w"], COMMAND_TIMEOUT, "wineserver -w")
        self._run(["wineserver", SERVER_PERSISTENCE], COMMAND_TIMEOUT, "wineserver -p")
        self._run(["wine", "cmd", "/c", "exit"], COMMAND_TIMEOUT, "warm-up")
        self.timings["settings"] = time.monotonic() - started

        ready = self.root / "tmp" / "keepalive.ready"
        self.keepalive_stop = self.root / "tmp" / "keepalive.stop"
        self.keepalive = self.spawn(
            ["wine", str(self.hold_exe), "window", self.win_path(ready),
             self.win_path(self.keepalive_stop), "7200"], "keepalive")
        self._wait_file(ready, COMMAND_TIMEOUT, "the keep-alive window", self.keepalive)
        self.timings["ready"] = time.monotonic() - started

    def stop(self):
        if self.keepalive is not None:
            with contextlib.suppress(OSError):
                self.keepalive_stop.touch()
            try:
                self.keepalive.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.keepalive.kill()
                self.keepalive.wait(timeout=10)
            self.keepalive = None
        if self.prefix is not None and self.prefix.is_dir() and self.env is not None:
            with contextlib.suppress(WineError):
                self._run(["wineserver", "-k"], COMMAND_TIMEOUT, "wineserver -k")
            with contextlib.suppress(WineError):
                self._run(["wineserver", "-w"], COMMAND_TIMEOUT, "wineserver -w")
        if self.xvfb is not None:
            self.xvfb.stop()
            self.xvfb = None
        if self.root is not None and not self.keep:
            shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    # ---- running programs ----

    def spawn(self, args, log_name, cwd=None):
        """Starts a program in the prefix (in cwd, a Linux path, if given); its
        output is appended to a log file."""
        with open(self.root / "tmp" / f"{log_name}.log", "ab") as log:
            return subprocess.Popen(args, env=self.env, stdin=subprocess.DEVNULL, stdout=log,
                                    stderr=subprocess.STDOUT, cwd=self.root if cwd is None else cwd)

    def _call(self, args, timeout, what):
        """Runs a command to its end: (exit status, output, errors). Output goes
        to files, never to a pipe that Wine's services could inherit."""
        out_path = self.root / "tmp" / "call.out"
        err_path = self.root / "tmp" / "call.err"
        for attempt in (1, 2):
            with open(out_path, "wb") as out, open(err_path, "wb") as err:
                process = subprocess.Popen(args, env=self.env, stdin=subprocess.DEVNULL, stdout=out,
                                           stderr=err, cwd=self.root)
                code = _deadline_wait(process, timeout, what)
            output, errors = out_path.read_bytes(), err_path.read_bytes()
            # Now and then Wine's loader fails to start a program and hands it
            # to start.exe, which reports ShellExecuteEx failing. The program
            # never ran, so running it again is safe.
            if code == 0 or output or b"ShellExecuteEx" not in errors + output or attempt == 2:
                return code, output, errors
            time.sleep(0.5)
        raise AssertionError("unreachable")

    def _run(self, args, timeout, what):
        code, output, errors = self._call(args, timeout, what)
        if code != 0:
            raise WineError(f"{what} failed (exit {code}): {(output + errors)[-2000:]!r}")
        return output

    def _wait_file(self, path, timeout, what, process=None):
        deadline = time.monotonic() + timeout
        while not path.exists():
            if process is not None and process.poll() is not None:
                raise WineError(f"{what}: ended (exit {process.returncode}) before it was ready")
            if time.monotonic() > deadline:
                raise WineError(f"{what}: not ready within {timeout} s")
            time.sleep(0.05)
        return path.read_text()

    def driver(self, *args, timeout=COMMAND_TIMEOUT):
        """Runs kvdriver; returns its JSON lines as a list of dicts."""
        what = "kvdriver " + " ".join(map(str, args))
        code, output, errors = self._call(["wine", str(self.driver_exe), *map(str, args)], timeout, what)
        lines = [line for line in output.decode(errors="replace").splitlines() if line.strip()]
        try:
            events = [json.loads(line) for line in lines]
        except json.JSONDecodeError as error:
            raise WineError(f"{what}: unreadable output {lines!r}") from error
        if code != 0 or not events:
            raise WineError(f"{what}: exit {code}: {_readable(events)!r} {errors[-1000:]!r}")
        return events

    def regedit(self, lines):
        """Imports registry lines (REGEDIT4 syntax) in one call."""
        path = self.root / "tmp" / "import.reg"
        text = "\r\n".join(["REGEDIT4", "", *lines, ""])
        path.write_bytes(text.encode("cp932"))
        self._run(["wine", "regedit", "/S", self.win_path(path)], COMMAND_TIMEOUT, "regedit")

    def reg_values(self, *pairs):
        """Values under HKEY_LOCAL_MACHINE: (key, value) -> (type, bytes) or None."""
        args = [item for pair in pairs for item in pair]
        events = self.driver("reg-get", *args)
        result = {}
        for pair, event in zip(pairs, events):
            result[pair] = (event["type"], bytes.fromhex(event["data"])) if event["error"] == 0 else None
        return result

    def reg_set(self, key, value, reg_type, data):
        """Sets a value under HKEY_LOCAL_MACHINE to exactly these bytes, of any
        type (RegSetValueExA), creating the key if need be."""
        self.driver("reg-set", key, value, reg_type, bytes(data).hex())

    def screenshot(self, path):
        path = Path(path)
        path.parent.mkdir(parents=True, exist_ok=True)
        process = subprocess.Popen(["import", "-display", self.display, "-window", "root", str(path)],
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        _deadline_wait(process, COMMAND_TIMEOUT, "screenshot")
        return path

    # ---- paths ----

    @property
    def drive_c(self):
        return self.prefix / "drive_c"

    def host_path(self, windows_path):
        """The Linux path of a C:\\ path in the prefix."""
        drive, _, rest = windows_path.partition(":")
        if drive.upper() != "C":
            raise ValueError(windows_path)
        return self.drive_c.joinpath(*[part for part in rest.split("\\") if part])

    def win_path(self, host_path):
        """A Windows path for a Linux path: C:\\ inside the prefix, Z:\\ elsewhere."""
        host_path = Path(host_path).resolve()
        try:
            inside = host_path.relative_to(self.drive_c.resolve())
            return "C:\\" + "\\".join(inside.parts)
        except ValueError:
            return "Z:" + str(host_path).replace("/", "\\")

    # ---- the launcher and the other programs ----

    def launch(self, program=None, cwd=None):
        """Starts the launcher, or another build of it (a path or a name in the
        build), in the current directory cwd (a Linux path) if given."""
        return Launch(self, program, cwd)

    def wait_top_window(self, title, class_name, timeout=WINDOW_TIMEOUT):
        """The first visible top-level window of that class with that title,
        whichever program it belongs to; a Window (controls and all)."""
        events = self.driver("wait", "--caption", hex_cp932(title), "--class", class_name,
                             "--timeout", int(timeout * 1000), timeout=timeout + 30)
        return Window(events[-1])

    def top_windows(self, title, class_name):
        """The visible top-level windows of that class with that title, now."""
        events = self.driver("list", "--caption", hex_cp932(title), "--class", class_name)
        return [Window(e) for e in events if e["event"] == "window"]

    @contextlib.contextmanager
    def hold_file(self, windows_path, access="r", share="r"):
        """Keeps a file open in another Windows process for the block's duration."""
        tag = f"hold-{time.monotonic_ns()}"
        ready = self.root / "tmp" / f"{tag}.ready"
        stop = self.root / "tmp" / f"{tag}.stop"
        process = self.spawn(
            ["wine", str(self.hold_exe), "file", windows_path, access, share, self.win_path(ready),
             self.win_path(stop), "600"], "hold")
        try:
            state = self._wait_file(ready, COMMAND_TIMEOUT, f"kvhold {windows_path}")
            if state != "held":
                raise WineError(f"kvhold could not open {windows_path}: {state}")
            yield
        finally:
            stop.touch()
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait(timeout=10)


_shared = None


def shared_session():
    """The one session of this test process, started on first use and stopped
    when the process ends: every test module of a run shares its prefix."""
    global _shared
    if _shared is None:
        session = WineSession()
        session.start()
        atexit.register(session.stop)
        _shared = session
    return _shared


class Window:
    """One window of the launcher as kvdriver reported it."""

    def __init__(self, event):
        self.event = event
        self.hwnd = event["hwnd"]
        self.kind = event["kind"]
        self.caption = bytes.fromhex(event["caption"])
        self.text = bytes.fromhex(event["text"])
        self.rect = tuple(event["rect"])
        self.work_area = tuple(event.get("work", (0, 0, 0, 0)))
        self.focus_id = event["focus_id"]
        self.seen = event.get("seen", [])
        self.controls = [dict(c, text=bytes.fromhex(c["text"])) for c in event["controls"]]

    def control_text(self, control_id):
        for control in self.controls:
            if control["id"] == control_id:
                return control["text"]
        raise KeyError(f"no control {control_id} in {self!r}")

    def texts(self, control_id):
        """Texts of all controls with this ID, in template order."""
        return [c["text"] for c in self.controls if c["id"] == control_id]

    def __repr__(self):
        return (f"<{self.kind} {self.hwnd} caption={describe_bytes(self.caption)} "
                f"text={describe_bytes(self.text)} rect={self.rect} focus={self.focus_id}>")


class Launch:
    """One run of the launcher; the user's side of it."""

    def __init__(self, session, program=None, cwd=None):
        self.session = session
        self.captions = [hex_cp932(c) for c in LAUNCHER_CAPTIONS]
        self.started = time.monotonic()
        program = session.launcher if program is None else session.build_dir / program
        self.process = session.spawn(["wine", str(program)], "launcher", cwd=cwd)

    def _filter(self):
        return [arg for caption in self.captions for arg in ("--caption", caption)]

    def wait_window(self, kind="any", timeout=WINDOW_TIMEOUT):
        """The first visible launcher window of that kind (dialog, box or any)."""
        if self.process.poll() is not None:
            raise WineError(f"the launcher ended (exit {self.process.returncode}) before a window showed")
        try:
            events = self.session.driver("wait", *self._filter(), "--kind", kind,
                                         "--timeout", int(timeout * 1000), timeout=timeout + 30)
        except WineError as error:
            raise WineError(f"{error}; {self.state()}") from None
        return Window(events[-1])

    def state(self):
        """Whether the launcher still runs, and the end of its output, for a failure message."""
        code = self.process.poll()
        log = self.session.root / "tmp" / "launcher.log"
        tail = log.read_bytes()[-1000:] if log.exists() else b""
        return (f"the launcher {'is still running' if code is None else f'ended with exit {code}'}"
                f"; its output ends {tail!r}")

    def windows(self):
        events = self.session.driver("list", *self._filter())
        return [Window(e) for e in events if e["event"] == "window"]

    def press(self, window, control_id):
        self.session.driver("press", window.hwnd, control_id)

    def key(self, window, name):
        """Escape or Enter, posted to the window's focused control."""
        self.session.driver("key", window.hwnd, name)

    def type(self, window, name):
        """Escape or Enter as real keyboard input to the foreground window."""
        self.session.driver("type", window.hwnd, name)

    def close_box(self, window):
        self.session.driver("close", window.hwnd)

    def bring_forward(self, window):
        """Brings the window to the front, as a click on it would. Under Wine a
        box can come up behind its dialog once another program's window has
        closed; this shows it for a screenshot."""
        self.session.driver("raise", window.hwnd)
        time.sleep(0.2)

    def wait_gone(self, timeout=WINDOW_TIMEOUT):
        """Waits until the launcher has no window left; returns the kinds seen meanwhile."""
        events = self.session.driver("wait-gone", *self._filter(), "--timeout", int(timeout * 1000),
                                     timeout=timeout + 30)
        return events[-1]["seen"]

    def wait_exit(self, timeout=EXIT_TIMEOUT):
        """Waits for the process to end by itself; returns its exit status."""
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise WineError(f"the launcher did not end within {timeout} s; "
                            f"its windows: {self.windows()!r}; {self.state()}") from None

    def running(self):
        return self.process.poll() is None

    def kill(self):
        """Ends a launcher that is still running, and waits for its windows to go."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGKILL)
            self.process.wait(timeout=10)
            with contextlib.suppress(WineError):
                self.wait_gone(timeout=10)

    # A launch used as a context ends with its block, whatever the block did,
    # so the next scenario starts with no window of this one left.
    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.kill()


class Installation:
    """The game as an installer would leave it, in the session's prefix. Every
    installation lives below C:\\Games, which each lay-out clears first."""

    ROOT = "C:\\Games\\"

    def __init__(self, session, directory=r"C:\Games\Kelvaro"):
        if not directory.startswith(self.ROOT):
            raise ValueError(f"{directory} is not below {self.ROOT}")
        self.session = session
        self.directory = directory.rstrip("\\") + "\\"

    @property
    def main_program(self):
        return self.directory + INSTALLED_FILES[0]

    def path(self, name):
        return self.session.host_path(self.directory + name)

    def lay_out(self, version="1.00", times_ns=None, missing=(), app_path=None, app_paths=True):
        """Resets registry and files: the six files (but the missing ones) with
        their last-write times (a time for all, or a dict by file name), the
        App Paths entry (app_path, or the main program) and the version record
        (None: no version key at all)."""
        shutil.rmtree(self.session.host_path(self.ROOT), ignore_errors=True)
        host_root = self.path("")
        host_root.mkdir(parents=True, exist_ok=True)
        for name in INSTALLED_FILES:
            if name in missing:
                continue
            target = self.path(name)
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_bytes(f"{name} of the installed game\r\n".encode())
            when = OLD_TIME_NS if times_ns is None else (
                times_ns.get(name, OLD_TIME_NS) if isinstance(times_ns, dict) else times_ns)
            os.utime(target, ns=(when, when))

        def reg_string(text):
            return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'

        lines = [f"[-HKEY_LOCAL_MACHINE\\{APP_PATHS_KEY}]", "",
                 f"[-HKEY_LOCAL_MACHINE\\{VERSION_KEY}]", ""]
        if app_paths:
            lines += [f"[HKEY_LOCAL_MACHINE\\{APP_PATHS_KEY}]",
                      "@=" + reg_string(self.main_program if app_path is None else app_path), ""]
        if version is not None:
            lines += [f"[HKEY_LOCAL_MACHINE\\{VERSION_KEY}]",
                      f'"{VERSION_VALUE}"=' + reg_string(version), ""]
        self.session.regedit(lines)

    def snapshot(self):
        """The registry values and every file below the directory, with times."""
        values = self.session.reg_values((APP_PATHS_KEY, ""), (VERSION_KEY, VERSION_VALUE))
        files = {}
        root = self.path("")
        if root.is_dir():
            for path in sorted(root.rglob("*")):
                if path.is_file():
                    stat = path.stat()
                    files[str(path.relative_to(root))] = (stat.st_size, stat.st_mtime_ns)
        return {"registry": values, "files": files}


@contextlib.contextmanager
def read_only(path):
    """Makes a file read-only as Windows sees it (no write permission). Wine
    leaves the permission check to Linux, which lets root write anything: as
    root the file is made immutable as well."""
    os.chmod(path, 0o444)
    immutable = os.geteuid() == 0
    if immutable:
        try:
            done = shutil.which("chattr") is not None and subprocess.run(
                ["chattr", "+i", str(path)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                timeout=10).returncode == 0
        except subprocess.TimeoutExpired:
            done = False
        if not done:
            os.chmod(path, 0o644)
            raise unittest.SkipTest("Wine cannot show this here: running as root, Wine writes a read-only "
                                    "file, and chattr +i is not available to stop it")
    try:
        yield
    finally:
        if immutable:
            subprocess.run(["chattr", "-i", str(path)], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=10, check=False)
        os.chmod(path, 0o644)


_screenshots = None


def screenshot_dir():
    """Where the scenarios of this test process put their screenshots:
    $KV_E2E_OUT/screenshots, or one temporary folder."""
    global _screenshots
    if _screenshots is None:
        out = os.environ.get("KV_E2E_OUT") or tempfile.mkdtemp(prefix="kv-e2e-out-")
        _screenshots = Path(out) / "screenshots"
    return _screenshots


class Scenario(unittest.TestCase):
    """What every scenario class shares: screenshots and exact text checks."""

    def shot(self, name):
        slug = re.sub(r"[^A-Za-z0-9]+", "-", f"{self.id().split('.')[-1]}-{name}").strip("-")
        shared_session().screenshot(screenshot_dir() / f"{slug}.png")

    def assertText(self, actual, expected, what):
        """actual, as code page 932 bytes, is expected (text, or bytes as they are)."""
        expected = cp932(expected) if isinstance(expected, str) else expected
        self.assertEqual(actual, expected,
                         f"{what}: got {describe_bytes(actual)}, want {describe_bytes(expected)}")
