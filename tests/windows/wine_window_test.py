#!/usr/bin/env python3
"""The Windows window upgrader.exe under Wine, driven from outside as an
operator drives it: on a virtual X server, inside a Wine virtual desktop,
with key presses and clicks from xdotool, against the Linux simulated
machine mapped as a COM port.

Usage: wine_window_test.py WINDOWS_BIN LINUX_MUBTOOL WINEPREFIX [TEST...]
"""
import getpass
import json
import os
import pwd
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_machine import run_window_tests, windows_path  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
SETUP = None
DISPLAY = None
MACHINE_PORT = 12
TITLE = "升级工具"
# The main window's client area in dialog units, and the upgrade button's
# centre (from the control table).
CLIENT_DU = (225, 200)
UPGRADE_BUTTON_DU = (149 + 71 / 2, 145 + 15 / 2)


def xdotool(*args):
    return subprocess.run(["xdotool", *args], env=dict(os.environ, DISPLAY=DISPLAY), capture_output=True,
                          text=True).stdout


def wait_for(condition, timeout, step=0.2):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(step)
    return condition()


class WindowUnderWine(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory(prefix="mub-window-")
        self.app = os.path.join(self.folder.name, "app")
        os.mkdir(self.app)
        shutil.copy(os.path.join(SETUP.windows_bin, "upgrader.exe"), self.app)
        # A fresh cfg.ini as a production line sets it up: the port and rate.
        self.settings = os.path.join(self.app, "cfg.ini")
        with open(self.settings, "wb") as f:
            f.write(f"[Port]\r\nPort=COM{MACHINE_PORT}\r\nBaudRate=57600\r\n".encode())
        self.saved = os.path.join(self.folder.name, "saved.bin")
        self.machine = None
        self.window = None
        self.env = dict(SETUP.env, DISPLAY=DISPLAY, LANG="zh_CN.UTF-8")
        # How a Wine command runs: as the tests' user, unless a test runs it
        # as another one (with a Wine server of that user's own).
        self.as_user = lambda command: command  # noqa: E731
        self.own_server = False

    def wine(self, program, *args):
        return self.as_user(SETUP.wine(program, *args))

    def tearDown(self):
        if self.window and self.window.poll() is None:
            # The program runs on in the prefix after its starter goes:
            # its X client is ended with it.
            for window in xdotool("search", "--name", TITLE).split():
                xdotool("windowkill", window)
            self.window.kill()
            self.window.wait()
        if self.machine:
            SETUP.stop_machine(self.machine, MACHINE_PORT)
        if self.own_server:
            # Its prefix goes with the folder: the server may write no more.
            for option in ("-k", "-w"):
                subprocess.run(self.wine("wineserver", option), env=self.env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        os.chmod(self.app, 0o755)
        self.folder.cleanup()

    def start_machine(self, image, *options):
        self.image = image
        self.upgrade_file = SETUP.pack(self.app, image)
        self.machine = SETUP.start_machine(MACHINE_PORT, ["--save-image", self.saved, *options])

    def start_copy(self):
        return subprocess.Popen(self.wine(windows_path(os.path.join(self.app, "upgrader.exe"))), env=self.env,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def start_window(self):
        # A desktop name new for each test (the prefix's default desktop,
        # started before this X server, has no display).
        SETUP.use_own_desktop("upgrader.exe", f"mubwindow{os.getpid()}{self.id().rsplit('_', 1)[-1]}", self.env,
                              self.wine)
        self.window = self.start_copy()
        # The window that was found is the one taken: a second search may
        # come while a window (a box of start-up, say) has just gone.
        found = []

        def shown():
            found[:] = xdotool("search", "--name", TITLE).split()
            return found

        self.assertTrue(wait_for(shown, 30), "the window did not show")
        self.window_id = found[0]
        xdotool("mousemove", "--window", self.window_id, "20", "60")

    def menu_command(self, menu_key, item_key, title):
        """Chooses a menu item with the keyboard; returns when the window
        it opens, of the given title, shows. A window that has only just
        shown may not yet take keys, so a press without effect is repeated."""
        for _ in range(3):
            xdotool("key", f"alt+{menu_key}")
            time.sleep(0.5)
            xdotool("key", item_key)
            if wait_for(lambda: xdotool("search", "--name", f"^{title}$").split(), 5):
                return
            xdotool("key", "Escape")
        self.fail(f"no window {title}")

    def open_through_the_dialog(self, typed=None):
        self.menu_command("f", "o", "打开文件")
        time.sleep(0.5)
        xdotool("type", "--delay", "10", typed or windows_path(self.upgrade_file))
        xdotool("key", "Return")
        self.assertTrue(wait_for(lambda: not xdotool("search", "--name", "打开文件").split(), 15))
        # The operator sees the file's versions before going on.
        time.sleep(1.5)

    def click_upgrade_button(self):
        # The frame is as wide on every side; dialog units are square enough
        # here for the button's 15 units of height.
        geometry = dict(line.split("=") for line in xdotool("getwindowgeometry", "--shell", self.window_id).split())
        width, height = int(geometry["WIDTH"]), int(geometry["HEIGHT"])
        border = 3
        scale = (width - 2 * border) / CLIENT_DU[0]
        x = border + UPGRADE_BUTTON_DU[0] * scale
        y = height - border - (CLIENT_DU[1] - UPGRADE_BUTTON_DU[1]) * scale
        xdotool("mousemove", "--window", self.window_id, str(int(x)), str(int(y)), "click", "1")

    def image_received(self):
        if not os.path.exists(self.saved):
            return False
        with open(self.saved, "rb") as f:
            return f.read() == self.image

    def close_window(self):
        xdotool("key", "alt+F4")
        self.window.wait(timeout=10)
        self.assertEqual(self.window.returncode, 0)

    def stored(self, key, settings=None):
        with open(settings or self.settings, "rb") as f:
            for line in f.read().decode("gbk").splitlines():
                if line.startswith(key + "="):
                    return line.split("=", 1)[1]
        return None

    def test_second_copy_then_an_upgrade_from_the_button(self):
        self.start_machine(os.urandom(6000))
        self.start_window()
        started = time.monotonic()
        second = self.start_copy()
        self.assertEqual(second.wait(timeout=30), 0)
        self.assertLess(time.monotonic() - started, 10)
        # One window still: the first copy's, brought forward. Raising it may
        # replace its X window for a moment, so a single search can miss it.
        windows = lambda: xdotool("search", "--name", TITLE).split()  # noqa: E731
        self.assertTrue(wait_for(lambda: len(windows()) == 1, 10), windows())
        self.assertIsNone(self.window.poll(), "the first copy ended")

        self.open_through_the_dialog()
        self.click_upgrade_button()
        self.assertTrue(wait_for(self.image_received, 60), "the machine did not receive the image")
        time.sleep(0.5)
        self.close_window()
        self.assertEqual(self.stored("Count"), "1")
        self.assertEqual(self.stored("FilePath"), windows_path(self.upgrade_file))
        # The upgrade's line in the log beside cfg.ini, after the header.
        with open(os.path.join(self.app, "upgrades.csv"), encoding="utf-8-sig") as f:
            lines = f.read().splitlines()
        self.assertEqual(len(lines), 2, lines)
        self.assertIn(f'"upgrader","COM{MACHINE_PORT}",', lines[1])
        self.assertIn('image.mub', lines[1])
        # Which build wrote it: the version both programs of the build carry.
        code, out, _ = SETUP.run("mubtool.exe", ["--version"])
        self.assertEqual(code, 0)
        # ... then the line's record id, 32 hex digits.
        self.assertRegex(lines[1], f',"{re.escape(out.split()[1])}","[0-9a-f]{{32}}"$')

    def dismiss_box(self, title):
        boxes = lambda: xdotool("search", "--name", f"^{title}$").split()  # noqa: E731
        self.assertTrue(wait_for(boxes, 15), f"no box {title}")
        box = boxes()[0]
        xdotool("key", "Return")
        self.assertTrue(wait_for(lambda: box not in boxes(), 15))

    def test_open_dialog_in_the_stored_folder_and_the_system_information_boxes(self):
        # An earlier session stored a file of another folder (a Chinese name:
        # the path goes through GBK and back); the dialog starts there, so the
        # file's bare name is enough.
        files = os.path.join(self.folder.name, "升级文件")
        os.mkdir(files)
        self.upgrade_file = SETUP.pack(files, b"\x5a" * 300)
        with open(self.settings, "ab") as f:
            f.write(f"[History]\r\nFilePath={windows_path(os.path.join(files, 'earlier.mub'))}\r\n".encode("gbk"))
        self.start_window()
        self.open_through_the_dialog(typed="image.mub")

        # A prefix has neither registry entry of the system-information
        # program: the two error boxes, in this order, over the About window.
        self.menu_command("h", "a", "关于")
        time.sleep(0.5)
        xdotool("key", "Tab", "space")
        self.dismiss_box("错误")
        self.dismiss_box("错误")
        xdotool("key", "Escape")
        self.assertTrue(wait_for(lambda: not xdotool("search", "--name", "^关于$").split(), 15))
        self.close_window()
        self.assertEqual(self.stored("FilePath"), windows_path(self.upgrade_file))

    def test_usb_mode_from_a_chinese_folder(self):
        # The program folder has a Chinese name; the bridge library beside
        # the program is found (no missing-library box) and used.
        folder = os.path.join(self.folder.name, "升级工具")
        os.rename(self.app, folder)
        self.app = folder
        self.settings = os.path.join(folder, "cfg.ini")
        shutil.copy(os.path.join(SETUP.windows_bin, "BridgeMini.dll"), folder)
        with open(self.settings, "wb") as f:
            f.write(b"[Port]\r\nPort=USB\r\nBaudRate=115200\r\n")
        self.env["BRIDGEMINI_PORT"] = f"COM{MACHINE_PORT}"
        self.start_machine(os.urandom(6000))
        self.start_window()
        # The open dialog starts in the program folder.
        self.open_through_the_dialog(typed="image.mub")
        xdotool("key", "F8")
        self.assertTrue(wait_for(self.image_received, 60), "the machine did not receive the image")
        time.sleep(0.5)
        self.close_window()
        self.assertEqual(self.stored("Count"), "1")

    def test_f8_held_during_a_run_stops_it_once(self):
        # F8 held for a second: the X server repeats it. The run stops, and
        # the repeats start no new connection (before: two or more probes).
        report = os.path.join(self.folder.name, "machine.json")
        self.start_machine(os.urandom(15000), "--baud", "38400", "--report", report)
        self.start_window()
        self.open_through_the_dialog()
        xdotool("key", "F8")
        time.sleep(1.5)
        xdotool("keydown", "F8")
        time.sleep(1)
        xdotool("keyup", "F8")
        time.sleep(3)
        self.assertFalse(os.path.exists(self.saved))
        SETUP.stop_machine(self.machine, MACHINE_PORT)
        self.machine = None
        with open(report) as f:
            seen = json.load(f)
        # Every connection begins with a probe, so one probe means one.
        self.assertEqual((seen["probes"], seen["confirmations"], seen["upgrades"]), (1, 1, 1), seen)
        self.close_window()

    def test_log_off_saves_the_settings(self):
        # A session that ends sends no close request: the settings are saved
        # at its first notice, and the program ends with it.
        self.start_machine(os.urandom(3000))
        self.start_window()
        self.open_through_the_dialog()
        xdotool("key", "F8")
        self.assertTrue(wait_for(self.image_received, 60), "the machine did not receive the image")
        time.sleep(1)
        # Wine's own end of the session, as at a log-off: the question and the
        # end to the windows of every desktop, then every program of the
        # prefix is ended (so no other test may run in it meanwhile). The
        # 64-bit wineboot: the 32-bit one starts it without its options.
        self.addCleanup(self.restart_prefix)
        subprocess.run([SETUP.wine_with, "64", "wineboot", "--end-session", "--kill"], env=self.env,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        self.assertEqual(self.window.wait(timeout=30), 0)
        self.assertEqual(self.stored("Count"), "1")

    def restart_prefix(self):
        # The prefix's own programs (services, devices) start again before
        # the next test's window.
        subprocess.run(SETUP.wine("cmd", "/c", "exit"), env=SETUP.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)

    def run_as_user_without_rights(self):
        """From now on the window runs as a user who may not write the
        program folder: as nobody, with a Wine prefix of its own, where the
        tests run as root (who may write everywhere); else as the tests' own
        user, with the folder made read-only. Returns the path the user's
        cfg.ini must have: %APPDATA%\\upgrader\\cfg.ini."""
        os.chmod(self.folder.name, 0o755)
        if os.geteuid() != 0:
            os.chmod(self.app, 0o555)
            user, prefix = getpass.getuser(), SETUP.prefix
        else:
            user = "nobody"
            home = os.path.join(self.folder.name, "home")
            prefix = os.path.join(home, "prefix")
            os.mkdir(home)
            entry = pwd.getpwnam(user)
            os.chown(home, entry.pw_uid, entry.pw_gid)
            self.env = dict(self.env, WINEPREFIX=prefix, HOME=home)
            variables = [f"{name}={value}" for name, value in self.env.items()]
            # The checkout may lie where that user may not go (under /root):
            # the Wine scripts it runs are copied beside the program.
            scripts = os.path.join(self.folder.name, "wine-scripts")
            os.mkdir(scripts)
            for name in ("wine-with", "wine-prefix", "chinese-fonts.reg"):
                shutil.copy2(os.path.join(HERE, name), scripts)

            def as_user(command):
                if command and command[0] == SETUP.wine_with:
                    command = [os.path.join(scripts, "wine-with"), *command[1:]]
                return ["runuser", "-u", user, "--", "env", *variables, *command]

            self.as_user = as_user
            self.own_server = True
            made = subprocess.run(self.as_user([os.path.join(scripts, "wine-prefix"), prefix, str(SETUP.bits)]),
                                  env=self.env, stdin=subprocess.DEVNULL, capture_output=True, timeout=300)
            self.assertEqual(made.returncode, 0, made.stderr)
            # The simulated machine's terminal, for the other user too.
            os.chmod(os.readlink(SETUP.com_link(MACHINE_PORT)), 0o666)
            os.symlink(os.readlink(SETUP.com_link(MACHINE_PORT)), os.path.join(prefix, "dosdevices",
                                                                                  f"com{MACHINE_PORT}"))
        probe = subprocess.run(self.as_user(["test", "-w", self.app]), env=self.env)
        self.assertNotEqual(probe.returncode, 0, "the user may write the program folder")
        return os.path.join(prefix, "drive_c", "users", user, "AppData", "Roaming", "upgrader", "cfg.ini")

    def test_a_user_without_rights_to_the_program_folder_keeps_settings_of_his_own(self):
        # A preset beside the program seeds the user's own cfg.ini; the
        # counter goes there and survives a restart; the preset stays.
        self.start_machine(os.urandom(3000))
        with open(self.settings, "rb") as f:
            preset = f.read()
        own = self.run_as_user_without_rights()
        for count in ("1", "2"):
            self.start_window()
            self.open_through_the_dialog()
            xdotool("key", "F8")
            self.assertTrue(wait_for(self.image_received, 60), "the machine did not receive the image")
            os.unlink(self.saved)
            time.sleep(1)
            self.close_window()
            self.assertEqual(self.stored("Count", own), count)
        self.assertEqual(self.stored("Port", own), f"COM{MACHINE_PORT}")
        with open(self.settings, "rb") as f:
            self.assertEqual(f.read(), preset)

    def test_f8_stop_and_closing_during_a_run(self):
        # About four seconds of transfer at this pace.
        self.start_machine(os.urandom(15000), "--baud", "38400")
        self.start_window()
        self.open_through_the_dialog()
        xdotool("key", "F8")
        time.sleep(1.5)
        xdotool("key", "F8")  # Stop
        time.sleep(0.5)
        self.assertFalse(os.path.exists(self.saved))
        # Idle again: F8 starts a run that completes.
        xdotool("key", "F8")
        self.assertTrue(wait_for(self.image_received, 60), "the machine did not receive the image")
        os.unlink(self.saved)
        time.sleep(0.5)
        xdotool("key", "F8")
        time.sleep(1.5)
        started = time.monotonic()
        self.close_window()
        self.assertLess(time.monotonic() - started, 5)
        self.assertFalse(os.path.exists(self.saved))
        self.assertEqual(self.stored("Count"), "1")


if __name__ == "__main__":
    run_window_tests(globals())
