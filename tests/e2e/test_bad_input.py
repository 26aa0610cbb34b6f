"""Bad input, run under Wine (the x86_64 build): a damaged payload, registry
values of odd types and lengths, unusual installation directories, files that
another program holds open, update programs that misbehave and an update.exe
that was there before.

Each scenario ends in one clear outcome: which box, with its exact code page
932 text, the registry untouched unless the verification passed, and nothing
run that must not run. The test build of the launcher (KvWin101_test.exe)
carries the test update program, which does what "update-behaviour.txt" in
the installation directory asks and records each of its runs in
"update-runs.txt" there.
"""

import contextlib
import shutil
import struct
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "resources"))

from kvwine import (  # noqa: E402
    APP_PATHS_KEY, CAPTION, FRESHNESS_CUTOFF_NS, IDC_INSTALL_INFO, IDCANCEL, IDOK, INSTALLED_FILES,
    UPDATE_COMPLETED, UPDATE_NOT_COMPLETED, VERSION_KEY, VERSION_VALUE, Installation, cp932,
    read_only, Scenario, shared_session)
from pe_resources import read_resources  # noqa: E402
from test_launcher import INSTALLED_INCORRECTLY, NOT_INSTALLED, install_info  # noqa: E402

TEST_LAUNCHER = "KvWin101_test.exe"
UPDATE_EXE = "update.exe"
RUNS_FILE = "update-runs.txt"
BEHAVIOUR_FILE = "update-behaviour.txt"
# What decoy.exe leaves behind if it is ever started.
DECOY_TRACE = r"C:\decoy-ran.txt"

REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD = 1, 2, 3, 4
APP_PATH = (APP_PATHS_KEY, "")
VERSION = (VERSION_KEY, VERSION_VALUE)

GAME_DIR = "C:\\Games\\Kelvaro\\"
MAIN_PROGRAM = GAME_DIR + "KvWin.exe"

# A Yes run starts a program under Wine and waits for it; a crashing one also
# brings up Wine's debugger in its quiet mode.
UPDATE_TIMEOUT = 60

SESSION = None


def setUpModule():
    global SESSION
    SESSION = shared_session()


def deep_directory(length):
    """A directory below C:\\Games of exactly `length` bytes with its trailing backslash."""
    text = "C:\\Games\\"
    while length - len(text) > 60:
        text += "k" * 59 + "\\"
    text += "k" * (length - len(text) - 1) + "\\"
    assert len(text) == length
    return text


def sz(text):
    """A string value as RegSetValueExA stores it: code page 932 and its zero."""
    return cp932(text) + b"\0"


class DriveRootInstallation(Installation):
    """The game installed straight into C:\\. Only the game's own files (and
    what an update run leaves) are cleared and compared, never the rest of
    the drive."""

    OWN = INSTALLED_FILES + (UPDATE_EXE, RUNS_FILE, BEHAVIOUR_FILE)

    # Installation itself takes only directories below C:\Games.
    def __init__(self, session):
        self.session = session
        self.directory = "C:\\"

    def clear(self):
        for name in self.OWN:
            self.path(name).unlink(missing_ok=True)
        with contextlib.suppress(OSError):
            self.path("Help").rmdir()

    def lay_out(self, **layout):
        self.clear()
        super().lay_out(**layout)

    def snapshot(self):
        values = self.session.reg_values(APP_PATH, VERSION)
        files = {}
        for name in self.OWN:
            path = self.path(name)
            if path.is_file():
                stat = path.stat()
                files[name.replace("\\", "/")] = (stat.st_size, stat.st_mtime_ns)
        return {"registry": values, "files": files}


class BadInputScenario(Scenario):
    """Helpers shared by the scenarios."""

    def assertBox(self, box, text):
        self.assertEqual(box.kind, "box", f"a message box, not {box!r}")
        self.assertText(box.caption, CAPTION, "caption")
        self.assertText(box.text, text, "message")

    def end(self, launch):
        launch.wait_gone()
        launch.wait_exit()

    def runs(self, installation):
        """The update program's runs in the installation directory, as recorded lines."""
        path = installation.path(RUNS_FILE)
        return path.read_bytes().splitlines() if path.exists() else []

    def expected_run(self, directory):
        """The line the test update program records when the launcher starts it."""
        cwd = directory if directory.endswith(":\\") else directory.rstrip("\\")
        return cp932(f"cmdline={directory}{UPDATE_EXE}|cwd={cwd}")

    def answer_yes(self, launch, installation, before, succeeded, update_exe_gone=True):
        """Presses Yes on the dialog, answers the final box and checks it: its
        text, the version record (1.01 only after a passed verification) and
        that update.exe is gone. Returns the snapshot afterwards."""
        dialog = launch.wait_window(kind="dialog")
        launch.press(dialog, IDOK)
        box = launch.wait_window(kind="box", timeout=UPDATE_TIMEOUT)
        self.assertBox(box, UPDATE_COMPLETED if succeeded else UPDATE_NOT_COMPLETED)
        launch.press(box, IDOK)
        self.end(launch)
        after = installation.snapshot()
        if succeeded:
            self.assertEqual(after["registry"][VERSION], (REG_SZ, b"1.01\0"), "version record")
            self.assertEqual(after["registry"][APP_PATH], before["registry"][APP_PATH])
        else:
            self.assertEqual(after["registry"], before["registry"], "the registry changed")
        if update_exe_gone:
            self.assertNotIn(UPDATE_EXE, after["files"], "update.exe was left behind")
        return after


def literal_offsets(stream):
    """Offsets of the literal bytes in an LZSS stream: a flag byte for each
    group of up to eight items, bit 0 first, 1 for a one-byte literal and 0
    for a two-byte reference."""
    at = 0
    while at < len(stream):
        flags = stream[at]
        at += 1
        for bit in range(8):
            if at >= len(stream):
                break
            if flags >> bit & 1:
                yield at
                at += 1
            else:
                at += 2


def find_unique(data, part, what):
    at = data.find(part)
    if at < 0 or data.find(part, at + 1) >= 0:
        raise AssertionError(f"{what} is not found exactly once in the program file")
    return at


# Edits of a program file, given its bytes and the file offsets of the UPEXE
# container and of the UPSUM record.

def flip_middle_literal(data, payload, digest):
    # A literal is one byte of the output: the size stays, only the SHA-256 tells.
    length = struct.unpack_from("<I", data, payload + 1)[0]
    stream = data[payload + 5:payload + 5 + length]
    middle = min(literal_offsets(stream), key=lambda at: abs(at - length // 2))
    data[payload + 5 + middle] ^= 0x01


def stream_length(change):
    def edit(data, payload, digest):
        length = struct.unpack_from("<I", data, payload + 1)[0]
        struct.pack_into("<I", data, payload + 1, change(length))
    return edit


def set_marker(data, payload, digest):
    data[payload] = 0xC7


def flip_digest_byte(data, payload, digest):
    data[digest + 4 + 16] ^= 0x01


def grow_record_size(data, payload, digest):
    size = struct.unpack_from("<I", data, digest)[0]
    struct.pack_into("<I", data, digest, size + 1)


def rename_record(data, payload, digest):
    # The record's name in the resource directory; UPSUN still sorts after UPEXE.
    at = find_unique(data, "UPSUM".encode("utf-16-le"), "the name UPSUM")
    data[at:at + 10] = "UPSUN".encode("utf-16-le")


class PayloadIntegrityTest(BadInputScenario):
    """Copies of the test build with one edit in the payload container or in
    its integrity record. Whatever the edit, the launcher writes and starts
    nothing, not even an update.exe that was there before (which it deletes),
    and ends with the warning box; the installation stays as it was."""

    CASES = [
        # The copy runs like the build itself: the edits below are what fails.
        ("unedited copy", None),
        ("one literal byte in the middle of the stream flipped", flip_middle_literal),
        # A decoder that trusted L would read one byte of the file's padding
        # and still produce the whole program; only the bound stops it.
        ("stream length one byte beyond the resource", stream_length(lambda n: n + 1)),
        ("stream length one byte short", stream_length(lambda n: n - 1)),
        ("marker byte not 0xC6", set_marker),
        ("integrity record: one byte of the SHA-256 flipped", flip_digest_byte),
        ("integrity record: decoded size one more", grow_record_size),
        ("integrity record missing (renamed)", rename_record),
    ]

    @classmethod
    def setUpClass(cls):
        cls.source = SESSION.build_dir / TEST_LAUNCHER
        cls.resources = read_resources(cls.source)

    def edited_copy(self, name, edit):
        data = bytearray(self.source.read_bytes())
        if edit is not None:
            payload = find_unique(data, self.resources[("LZT", "UPEXE")][1], "the UPEXE container")
            digest = find_unique(data, self.resources[("LZT", "UPSUM")][1], "the UPSUM record")
            edit(data, payload, digest)
        copy = SESSION.root / "tmp" / f"{name}.exe"
        copy.write_bytes(data)
        return copy

    def test_a_damaged_payload_is_never_written_or_run(self):
        installation = Installation(SESSION)
        for index, (name, edit) in enumerate(self.CASES):
            with self.subTest(name):
                copy = self.edited_copy(f"payload-{index}", edit)
                installation.lay_out(version="1.00")
                # An update.exe from an earlier run: the test update program
                # itself, which would freshen the files and record its run.
                shutil.copyfile(SESSION.build_dir / "test_update.exe", installation.path(UPDATE_EXE))
                before = installation.snapshot()
                usable = edit is None
                with SESSION.launch(copy) as launch:
                    after = self.answer_yes(launch, installation, before, succeeded=usable)
                runs = self.runs(installation)
                if usable:
                    self.assertEqual(runs, [self.expected_run(installation.directory)])
                    continue
                self.assertEqual(runs, [], "an update program ran")
                unchanged = {k: v for k, v in before["files"].items() if k != UPDATE_EXE}
                self.assertEqual(after["files"], unchanged, "the installed files changed")


class RegistryValueTest(BadInputScenario):
    """App Paths and ExeVersion values of other types and at the length
    limits of their fields (260 and 40 bytes). Types are not examined and
    nothing is expanded; a value that does not fit, or fills its field with
    no terminating zero, is unreadable: Not installed, or an empty version."""

    NAME_259 = GAME_DIR + "KvWin" + "x" * (259 - len(GAME_DIR) - len("KvWin.exe")) + ".exe"
    NAME_260 = NAME_259[:-4] + "x.exe"

    CASES = [
        # Expanded, this would name the complete installation below; as it
        # stands it is a relative path, and the launcher's current directory
        # holds no "%SystemDrive%" folder.
        ("App Paths REG_EXPAND_SZ with %SystemDrive%: not expanded",
         [(APP_PATH, REG_EXPAND_SZ, sz(r"%SystemDrive%\Games\Kelvaro\KvWin.exe"))], None,
         ("box", INSTALLED_INCORRECTLY)),
        ("App Paths REG_BINARY holding the path and its zero: type not examined",
         [(APP_PATH, REG_BINARY, sz(MAIN_PROGRAM))], None, ("dialog", install_info(GAME_DIR, "1.00"))),
        ("App Paths quoted: the quote stays part of the directory",
         [(APP_PATH, REG_SZ, sz(f'"{MAIN_PROGRAM}"'))], None, ("box", INSTALLED_INCORRECTLY)),
        ("App Paths of 259 characters fits (a long program name)",
         [(APP_PATH, REG_SZ, sz(NAME_259))], None, ("dialog", install_info(GAME_DIR, "1.00"))),
        ("App Paths of 260 characters does not fit",
         [(APP_PATH, REG_SZ, sz(NAME_260))], None, ("box", NOT_INSTALLED)),
        # Whether the read fails or hands back 260 bytes with no zero, the
        # value is unreadable.
        ("App Paths REG_SZ of 260 characters stored without its zero",
         [(APP_PATH, REG_SZ, cp932(NAME_260))], None, ("box", NOT_INSTALLED)),
        ("App Paths REG_BINARY of 260 bytes with no zero",
         [(APP_PATH, REG_BINARY, cp932(NAME_260))], None, ("box", NOT_INSTALLED)),
        ("App Paths empty: the six names are relative to the current directory, which lacks them",
         [(APP_PATH, REG_SZ, b"\0")], None, ("box", INSTALLED_INCORRECTLY)),
        ("App Paths empty, the launcher started in the installation directory",
         [(APP_PATH, REG_SZ, b"\0")], GAME_DIR, ("dialog", install_info("", "1.00"))),
        # Four bytes 31 2E 31 00, read as text.
        ("ExeVersion REG_DWORD: its bytes read as text",
         [(VERSION, REG_DWORD, struct.pack("<I", 0x00312E31))], None, ("dialog", install_info(GAME_DIR, "1.1"))),
        ("ExeVersion of 39 characters fits",
         [(VERSION, REG_SZ, sz("1." + "0" * 37))], None, ("dialog", install_info(GAME_DIR, "1." + "0" * 37))),
        ("ExeVersion of 40 characters: empty version",
         [(VERSION, REG_SZ, sz("1." + "0" * 38))], None, ("dialog", install_info(GAME_DIR, ""))),
        ("ExeVersion REG_BINARY of 40 bytes with no zero: empty version",
         [(VERSION, REG_BINARY, b"1" * 40)], None, ("dialog", install_info(GAME_DIR, ""))),
    ]

    def test_values_of_other_types_and_at_the_limits(self):
        installation = Installation(SESSION)
        for name, writes, cwd, (kind, text) in self.CASES:
            with self.subTest(name):
                installation.lay_out(version="1.00")
                for (key, value), reg_type, data in writes:
                    SESSION.reg_set(key, value, reg_type, data)
                before = installation.snapshot()
                with SESSION.launch(cwd=SESSION.host_path(cwd) if cwd else None) as launch:
                    window = launch.wait_window()
                    self.assertEqual(window.kind, kind, f"{window!r}")
                    if kind == "box":
                        self.assertBox(window, text)
                        launch.press(window, IDOK)
                    else:
                        self.assertText(window.control_text(IDC_INSTALL_INFO), text, "installation info")
                        launch.press(window, IDCANCEL)
                    self.end(launch)
                self.assertEqual(installation.snapshot(), before, "registry or files changed")


class InstallationDirectoryTest(BadInputScenario):
    """Long, Japanese and spaced installation directories and the drive root.
    Where the dialog is shown, Yes runs the test update program there: it
    must be started with the exact path and directory, and succeed."""

    JAPANESE_DIR = "C:\\Games\\ゲーム ソフト\\表 Kelvaro\\"
    CASES = [
        # 241 + "Help\\body.html" is the longest path that fits the 255
        # characters of the working text. The status text is cut to fit.
        ("a 241-byte directory: status text cut to 255 bytes",
         deep_directory(241), None, "1.00", 255),
        # The cut falls inside the full-width version: the whole character goes.
        ("a 241-byte directory with a full-width version: status text cut to 254 bytes",
         deep_directory(241), None, "１．００", 254),
        ("a 242-byte directory: the help pages' paths do not fit",
         deep_directory(242), None, "1.00", INSTALLED_INCORRECTLY),
        ("App Paths of 259 characters in a deep directory",
         deep_directory(250), None, "1.00", INSTALLED_INCORRECTLY),
        # ソ and 表 end in the byte 0x5C; the cut looks for the last 0x5C from
        # the end, which here is the real backslash.
        ("Japanese names with 0x5C trail bytes, and spaces", JAPANESE_DIR, None, "1.00", None),
        # The cut is over bytes: the last 0x5C is the second byte of ソ, so the
        # directory becomes C:\Games\Kelvaro\ソ although the installation is complete.
        ("App Paths naming ソフト.exe: the byte-wise cut ends inside ソ",
         GAME_DIR, GAME_DIR + "ソフト.exe", "1.00", INSTALLED_INCORRECTLY),
        ("the drive root", "C:\\", None, "1.00", None),
    ]

    def test_long_japanese_and_root_directories(self):
        for name, directory, app_path, version, expected in self.CASES:
            with self.subTest(name):
                if directory == "C:\\":
                    installation = DriveRootInstallation(SESSION)
                    self.addCleanup(installation.clear)
                else:
                    installation = Installation(SESSION, directory)
                installation.lay_out(version=version, app_path=app_path)
                before = installation.snapshot()
                with SESSION.launch(TEST_LAUNCHER) as launch:
                    window = launch.wait_window()
                    if isinstance(expected, str):
                        self.assertBox(window, expected)
                        launch.press(window, IDOK)
                        self.end(launch)
                        self.assertEqual(installation.snapshot(), before, "registry or files changed")
                        continue
                    self.assertEqual(window.kind, "dialog", f"{window!r}")
                    whole = cp932(install_info(installation.directory, version))
                    shown = window.control_text(IDC_INSTALL_INFO)
                    self.assertText(shown, whole[:expected] if expected else whole, "installation info")
                    self.answer_yes(launch, installation, before, succeeded=True)
                self.assertEqual(self.runs(installation), [self.expected_run(installation.directory)])


class HeldFileTest(BadInputScenario):
    """Installed files that another program holds open."""

    # The presence probe shares nothing: any other open makes the file count
    # as missing.
    DURING_CHECK = [
        ("KvBc.exe held for writing, sharing everything", "KvBc.exe", "w", "rwd"),
        ("a help page held for reading, sharing nothing", r"Help\menu.html", "r", "none"),
    ]

    def test_a_file_held_during_the_check_means_installed_incorrectly(self):
        installation = Installation(SESSION)
        for name, file, access, share in self.DURING_CHECK:
            with self.subTest(name):
                installation.lay_out(version="1.00")
                before = installation.snapshot()
                with SESSION.hold_file(installation.directory + file, access, share), SESSION.launch() as launch:
                    box = launch.wait_window()
                    self.assertBox(box, INSTALLED_INCORRECTLY)
                    launch.press(box, IDOK)
                    self.end(launch)
                self.assertEqual(installation.snapshot(), before, "registry or files changed")

    # The other program opens the file after the dialog is shown and keeps it
    # open through the update run. The verification shares reading only.
    DURING_UPDATE = [
        ("held for reading, sharing reading: verified", "r", "r", True),
        ("held for writing, sharing everything: not verified", "w", "rwd", False),
        ("held for reading, sharing nothing: not verified", "r", "none", False),
    ]

    def test_a_file_held_during_the_update_decides_the_verification(self):
        installation = Installation(SESSION)
        for name, access, share, verified in self.DURING_UPDATE:
            with self.subTest(name):
                installation.lay_out(version="1.00")
                before = installation.snapshot()
                with SESSION.launch(TEST_LAUNCHER) as launch:
                    launch.wait_window(kind="dialog")
                    with SESSION.hold_file(installation.directory + "KvRace.exe", access, share):
                        after = self.answer_yes(launch, installation, before, succeeded=verified)
                self.assertEqual(self.runs(installation), [self.expected_run(installation.directory)])
                # The update program freshened every file all the same (its
                # attribute-only open passes any share mode): only the open
                # handle fails the verification.
                stale = [file for file in INSTALLED_FILES
                         if after["files"][file.replace("\\", "/")][1] < FRESHNESS_CUTOFF_NS]
                self.assertEqual(stale, [], "files the update program left stale")


class MisbehavingUpdateProgramTest(BadInputScenario):
    """Update programs that crash, show no window or delete a file: the
    launcher neither hangs nor crashes, and only the files decide."""

    CASES = [
        ("crashes after freshening every file", ["crash"], True, ()),
        ("crashes after freshening all but KvBc.exe", ["crash", "stale KvBc.exe"], False, ()),
        ("never creates a window", ["nowindow"], True, ()),
        ("deletes a help page", [r"delete Help\body.html"], False, ("Help/body.html",)),
    ]

    def test_only_the_files_decide(self):
        installation = Installation(SESSION)
        for name, behaviour, succeeded, deleted in self.CASES:
            with self.subTest(name):
                installation.lay_out(version="1.00")
                installation.path(BEHAVIOUR_FILE).write_text("\r\n".join(behaviour) + "\r\n")
                before = installation.snapshot()
                with SESSION.launch(TEST_LAUNCHER) as launch:
                    after = self.answer_yes(launch, installation, before, succeeded=succeeded)
                self.assertEqual(self.runs(installation), [self.expected_run(installation.directory)])
                for file in deleted:
                    self.assertNotIn(file, after["files"])


class PlantedUpdateProgramTest(BadInputScenario):
    """An update.exe that is there before the run and cannot be replaced: the
    launcher must not start it (it is the decoy here), nor its own program,
    which it could not write; the run ends with the warning box."""

    CASES = [
        # Deleting fails as well, so the planted file stays.
        ("read-only", None, True),
        ("held for reading, sharing reading", ("r", "r"), True),
        # The writer shares no writing, so it cannot open the file; the
        # deletion is shared, so the file goes once the other program lets go.
        ("held for reading and writing, sharing everything", ("rw", "rwd"), False),
    ]

    def test_a_planted_update_exe_that_cannot_be_replaced_never_runs(self):
        installation = Installation(SESSION)
        decoy_trace = SESSION.host_path(DECOY_TRACE)
        for name, hold, stays in self.CASES:
            with self.subTest(name):
                installation.lay_out(version="1.00")
                decoy_trace.unlink(missing_ok=True)
                planted = installation.path(UPDATE_EXE)
                shutil.copyfile(SESSION.build_dir / "decoy.exe", planted)
                decoy = planted.read_bytes()
                before = installation.snapshot()
                with contextlib.ExitStack() as stack:
                    if hold is None:
                        stack.enter_context(read_only(planted))
                    else:
                        stack.enter_context(SESSION.hold_file(installation.directory + UPDATE_EXE, *hold))
                    launch = stack.enter_context(SESSION.launch(TEST_LAUNCHER))
                    after = self.answer_yes(launch, installation, before, succeeded=False,
                                            update_exe_gone=False)
                self.assertFalse(decoy_trace.exists(), "the planted update.exe ran")
                self.assertEqual(self.runs(installation), [], "an update program ran")
                self.assertEqual(planted.exists(), stays, "whether the planted update.exe is still there")
                if stays:
                    self.assertEqual(planted.read_bytes(), decoy, "the planted update.exe was rewritten")
                unchanged = {k: v for k, v in before["files"].items() if k != UPDATE_EXE}
                after_files = {k: v for k, v in after["files"].items() if k != UPDATE_EXE}
                self.assertEqual(after_files, unchanged, "the installed files changed")


if __name__ == "__main__":
    unittest.main()
