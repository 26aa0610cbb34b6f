"""The version-up as its user meets it, run under Wine (the x86_64 build).

Each scenario lays out an installation at version 1.00 with every file older
than the freshness cut-off, answers Yes, and then checks what the user is told
(the verdict box, byte for byte in code page 932), that the version record
changes only after a passed verification and only once the box is dismissed,
the installed files' last-write times, that update.exe is gone and that the
launcher ends by itself.

The plain build carries the sample update program. KvWin101_test.exe carries
test_update.exe, which takes its orders from "update-behaviour.txt" in the
installation directory and notes every start (command line and current
directory) in "update-runs.txt" there. decoy.exe, wherever it is planted,
leaves C:\\decoy-ran.txt when it is started.

Screenshots go to $KV_E2E_OUT/screenshots (a temporary folder when unset).
"""

import shutil
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from kvwine import (  # noqa: E402
    ALREADY_CURRENT, CAPTION, FRESHNESS_CUTOFF_NS, IDOK, INSTALLED_FILES, OLD_TIME_NS, VERSION_KEY,
    VERSION_VALUE, Installation, read_only, Scenario, screenshot_dir, shared_session)
from kvwine import UPDATE_COMPLETED as COMPLETED  # noqa: E402
from kvwine import UPDATE_NOT_COMPLETED as NOT_COMPLETED  # noqa: E402

TEST_LAUNCHER = "KvWin101_test.exe"
TEST_UPDATE_TITLE = "Kelvaro for Win test update"
TEST_UPDATE_CLASS = "Static"
UPDATE_PROGRAM = "update.exe"
BEHAVIOUR_FILE = "update-behaviour.txt"
RUNS_FILE = "update-runs.txt"
DECOY_MARKER = r"C:\decoy-ran.txt"

RECORDED = (1, b"1.01\0")  # REG_SZ, the four characters and the NUL
BEFORE = (1, b"1.00\0")

# The update program may take a while; the verdict box follows it.
VERDICT_TIMEOUT = 30

SESSION = None


def setUpModule():
    global SESSION
    SESSION = shared_session()


def tearDownModule():
    print(f"\nscreenshots: {screenshot_dir()}", file=sys.stderr)


class SpacedInstallation(Installation):
    """An installation below C:\\Program Files, in a directory with spaces."""

    ROOT = "C:\\Program Files\\Kelvaro for Win\\"

    def __init__(self, session):
        super().__init__(session, self.ROOT)

    def remove(self):
        shutil.rmtree(self.session.host_path(self.ROOT), ignore_errors=True)


class UpdateRunScenario(Scenario):

    def version_record(self):
        return SESSION.reg_values((VERSION_KEY, VERSION_VALUE))[(VERSION_KEY, VERSION_VALUE)]

    def prepare(self, installation, behaviour=(), version="1.00"):
        """A stale installation at `version`, the test program's orders, no marker of a decoy."""
        installation.lay_out(version=version)
        if behaviour:
            installation.path(BEHAVIOUR_FILE).write_text("\r\n".join(behaviour) + "\r\n")
        SESSION.host_path(DECOY_MARKER).unlink(missing_ok=True)
        return time.time_ns()

    def answer_yes(self, program=None, answer="press", while_waiting=None, at_verdict=None, label=""):
        """Starts the launcher, answers Yes and returns the verdict box once the
        registry has been checked while it is up; presses its OK and checks that
        the launcher ends by itself, with no other box. `while_waiting(launch,
        dialog)` runs between Yes and the verdict, `at_verdict()` as it shows."""
        record_before = self.version_record()
        with SESSION.launch(program) as launch:
            dialog = launch.wait_window(kind="dialog")
            if answer == "enter":
                launch.type(dialog, "enter")
            else:
                launch.press(dialog, IDOK)
            if while_waiting is not None:
                while_waiting(launch, dialog)
            box = launch.wait_window(kind="box", timeout=VERDICT_TIMEOUT)
            if at_verdict is not None:
                at_verdict()
            self.assertText(box.caption, CAPTION, "caption of the verdict box")
            self.assertEqual(box.event["owner"], dialog.hwnd, "the verdict box is not owned by the dialog")
            self.assertTrue(box.event["owner_visible"], "the dialog went before its verdict box")
            self.assertEqual(self.version_record(), record_before,
                             "the version record changed before the verdict box was dismissed")
            launch.bring_forward(box)
            self.shot(f"{label} verdict")
            launch.press(box, IDOK)
            seen = launch.wait_gone()
            launch.wait_exit()
        self.assertEqual([s for s in seen if s.startswith("box:") and s != f"box:{box.hwnd}"], [],
                         f"another box followed the verdict: {seen}")
        return box

    def assertFiles(self, installation, since_ns, stale=()):
        """The files named stale keep their old time; every other one was last
        written during this scenario, so after the cut-off."""
        for name in INSTALLED_FILES:
            mtime = installation.path(name).stat().st_mtime_ns
            if name in stale:
                self.assertEqual(mtime, OLD_TIME_NS, f"{name} was touched")
            else:
                # One second of slack for the file system's clock granularity.
                self.assertGreaterEqual(mtime, max(since_ns - 10**9, FRESHNESS_CUTOFF_NS),
                                        f"{name} was not brought up to date")

    def runs(self, installation):
        path = installation.path(RUNS_FILE)
        return path.read_text().splitlines() if path.exists() else []

    def assertRanOnce(self, installation):
        directory = installation.directory
        self.assertEqual(self.runs(installation),
                         [f"cmdline={directory}{UPDATE_PROGRAM}|cwd={directory.rstrip(chr(92))}"],
                         "the update program was not started exactly once, by its bare path, "
                         "in the installation directory")
        self.assertFalse(SESSION.host_path(DECOY_MARKER).exists(), "a decoy was started")


class VersionUpTest(UpdateRunScenario):

    def test_sample_program_completes_and_the_next_start_finds_it_current(self):
        installation = Installation(SESSION)
        since = self.prepare(installation)
        box = self.answer_yes()
        self.assertText(box.text, COMPLETED, "verdict")
        self.assertEqual(self.version_record(), RECORDED)
        self.assertFiles(installation, since)
        self.assertFalse(installation.path(UPDATE_PROGRAM).exists(), "update.exe is left")

        before = installation.snapshot()
        with SESSION.launch() as launch:
            box = launch.wait_window()
            self.shot("next-start")
            self.assertEqual(box.kind, "box", f"a message box, not {box!r}")
            self.assertText(box.text, ALREADY_CURRENT, "message on the next start")
            launch.press(box, IDOK)
            launch.wait_gone()
            launch.wait_exit()
        self.assertEqual(installation.snapshot(), before, "the next start changed something")

    # (name, orders for the test program, version record before, how Yes is
    #  given, what is planted as update.exe (None, "decoy", bytes), files left
    #  stale, verdict, version record after)
    CASES = [
        ("Enter on the keyboard is Yes",
         [], "1.00", "enter", None, (), COMPLETED, RECORDED),
        ("a failing exit code counts for nothing when the files are fresh",
         ["exit 3"], "1.00", "press", None, (), COMPLETED, RECORDED),
        ("exit code 0 with the last file left stale",
         [r"stale Help\menu.html"], "1.00", "press", None, (r"Help\menu.html",),
         NOT_COMPLETED, BEFORE),
        ("no version key: the box, and no record is created",
         [], None, "press", None, (), COMPLETED, None),
        ("an earlier update.exe (another program) is replaced",
         [], "1.00", "press", "decoy", (), COMPLETED, RECORDED),
        ("an earlier update.exe (a few bytes) is replaced",
         [], "1.00", "press", b"not a program\r\n", (), COMPLETED, RECORDED),
    ]

    def test_verdict_rests_on_the_installed_files(self):
        installation = Installation(SESSION)
        for name, behaviour, version, answer, planted, stale, verdict, record in self.CASES:
            with self.subTest(name):
                since = self.prepare(installation, behaviour, version)
                if planted is not None:
                    target = installation.path(UPDATE_PROGRAM)
                    if planted == "decoy":
                        shutil.copyfile(SESSION.build_dir / "decoy.exe", target)
                    else:
                        target.write_bytes(planted)
                box = self.answer_yes(TEST_LAUNCHER, answer, label=name)
                self.assertText(box.text, verdict, "verdict")
                self.assertEqual(self.version_record(), record, "version record afterwards")
                self.assertFiles(installation, since, stale)
                self.assertRanOnce(installation)
                self.assertFalse(installation.path(UPDATE_PROGRAM).exists(), "update.exe is left")

    def test_read_only_update_exe_is_never_started(self):
        installation = Installation(SESSION)
        self.prepare(installation)
        planted = installation.path(UPDATE_PROGRAM)
        shutil.copyfile(SESSION.build_dir / "decoy.exe", planted)
        with read_only(planted):
            before = installation.snapshot()
            box = self.answer_yes(TEST_LAUNCHER)
            self.assertText(box.text, NOT_COMPLETED, "verdict")
            self.assertFalse(SESSION.host_path(DECOY_MARKER).exists(), "the planted update.exe ran")
            self.assertEqual(self.runs(installation), [], "an update program ran")
            # Nothing could replace or delete it: it stays as planted, and the
            # registry and the installed files are as they were.
            self.assertEqual(installation.snapshot(), before)
            self.assertEqual(planted.read_bytes(), (SESSION.build_dir / "decoy.exe").read_bytes())

    def test_directory_with_spaces_starts_nothing_at_a_split_point(self):
        installation = SpacedInstallation(SESSION)
        # Where an unquoted command line would split.
        decoys = [r"C:\Program.exe", r"C:\Program Files\Kelvaro.exe", r"C:\Program Files\Kelvaro for.exe"]
        try:
            since = self.prepare(installation)
            for decoy in decoys:
                shutil.copyfile(SESSION.build_dir / "decoy.exe", SESSION.host_path(decoy))
            box = self.answer_yes(TEST_LAUNCHER)
            self.assertRanOnce(installation)
            self.assertText(box.text, COMPLETED, "verdict")
            self.assertEqual(self.version_record(), RECORDED)
            self.assertFiles(installation, since)
            self.assertFalse(installation.path(UPDATE_PROGRAM).exists(), "update.exe is left")
        finally:
            for decoy in decoys:
                SESSION.host_path(decoy).unlink(missing_ok=True)
            installation.remove()

    def test_the_run_waits_for_a_slow_update_program(self):
        installation = Installation(SESSION)
        since = self.prepare(installation, ["sleep 3000"])

        def while_waiting(launch, dialog):
            SESSION.wait_top_window(TEST_UPDATE_TITLE, TEST_UPDATE_CLASS)
            self.shot("update-program")
            # The update program's window is up; behind it the dialog stays,
            # no verdict yet, and update.exe is there while it runs.
            self.assertTrue(launch.running(), "the launcher ended during the update")
            shown = launch.windows()
            self.assertEqual([(w.kind, w.hwnd) for w in shown], [("dialog", dialog.hwnd)],
                             f"while the update program runs: {shown!r}")
            self.assertTrue(installation.path(UPDATE_PROGRAM).exists(), "update.exe is gone while it runs")
            self.assertEqual(self.version_record(), BEFORE)

        def at_verdict():
            # The verdict comes only once the update program has ended.
            self.assertEqual(SESSION.top_windows(TEST_UPDATE_TITLE, TEST_UPDATE_CLASS), [],
                             "the verdict came while the update program's window was up")
            self.assertFalse(installation.path(UPDATE_PROGRAM).exists(), "update.exe is left")

        box = self.answer_yes(TEST_LAUNCHER, while_waiting=while_waiting, at_verdict=at_verdict)
        self.assertText(box.text, COMPLETED, "verdict")
        self.assertRanOnce(installation)
        self.assertEqual(self.version_record(), RECORDED)
        self.assertFiles(installation, since)


if __name__ == "__main__":
    unittest.main()
