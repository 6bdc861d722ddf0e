#!/usr/bin/env python3
"""The Windows station window mub-station.exe under Wine, on a virtual X
server inside a Wine virtual desktop, against four Linux simulated machines
mapped as COM ports: started with a file and --count 4, it upgrades every
machine and ends by itself.

Usage: wine_station_test.py WINDOWS_BIN LINUX_MUBTOOL WINEPREFIX [TEST...]
"""
import csv
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_machine import run_window_tests, windows_path  # noqa: E402

SETUP = None
DISPLAY = None
PORTS = (11, 12, 13, 14)


class StationUnderWine(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory(prefix="mub-station-")
        self.app = os.path.join(self.folder.name, "app")
        os.mkdir(self.app)
        shutil.copy(os.path.join(SETUP.windows_bin, "mub-station.exe"), self.app)
        self.env = dict(SETUP.env, DISPLAY=DISPLAY, LANG="zh_CN.UTF-8")
        self.machines = None

    def tearDown(self):
        if self.machines:
            self.machines.terminate()
            try:
                self.machines.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.machines.kill()
                self.machines.wait()
            self.machines.stdout.close()
        for number in PORTS:
            SETUP.map_port(number, None)
        self.folder.cleanup()

    def start_machines(self, saved, *options):
        """The simulated machines, one terminal each, as COM11 to COM14."""
        self.machines = subprocess.Popen([SETUP.linux_mubtool, "simulate", "--machines", str(len(PORTS)),
                                          "--save-image", saved, *options], stdout=subprocess.PIPE,
                                         stderr=subprocess.DEVNULL, text=True)
        for number in PORTS:
            device = self.machines.stdout.readline().strip()
            self.assertTrue(device, "the simulated machines did not start")
            SETUP.map_port(number, device)

    def start_station(self, upgrade_file, *options):
        SETUP.use_own_desktop("mub-station.exe", f"mubstation{os.getpid()}", self.env)
        self.log = os.path.join(self.folder.name, "upgrades.csv")
        ports = ",".join(f"COM{n}" for n in PORTS)
        return subprocess.Popen(SETUP.wine(windows_path(os.path.join(self.app, "mub-station.exe")), "--ports", ports,
                                           "--log", windows_path(self.log), *options, windows_path(upgrade_file)),
                                env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def logged(self):
        """(port, outcome, program) of each line of the log, sorted."""
        with open(self.log, encoding="utf-8-sig", newline="") as f:
            return sorted((row["port"], row["outcome"], row["program"]) for row in csv.DictReader(f))

    def test_four_machines_upgraded_then_the_count_ends_it(self):
        image = os.urandom(6000)
        upgrade_file = SETUP.pack(self.app, image)
        self.start_machines(os.path.join(self.folder.name, "saved.bin"))
        station = self.start_station(upgrade_file, "--count", str(len(PORTS)))
        self.assertEqual(station.wait(timeout=120), 0)
        for i in range(1, len(PORTS) + 1):
            with open(os.path.join(self.folder.name, f"saved-{i}.bin"), "rb") as f:
                self.assertEqual(f.read(), image, f"machine {i}")
        self.assertEqual(self.logged(), [(f"COM{n}", "completed", "mub-station") for n in PORTS])
        # The station's settings beside the program; the file it ran with.
        with open(os.path.join(self.app, "station.ini"), "rb") as f:
            self.assertIn(b"image.mub", f.read())

    def test_log_off_during_the_transfers_stops_every_port_and_logs_it(self):
        # About ten seconds of transfer at this pace.
        self.start_machines(os.path.join(self.folder.name, "saved.bin"), "--baud", "38400")
        station = self.start_station(SETUP.pack(self.app, os.urandom(40000)))
        shown = lambda: subprocess.run(["xdotool", "search", "--name", "生产工位"], env=self.env,  # noqa: E731
                                       capture_output=True).stdout.split()
        end = time.monotonic() + 30
        while not shown() and time.monotonic() < end:
            time.sleep(0.2)
        self.assertTrue(shown(), "the window did not show")
        time.sleep(4)
        # Wine's end of the session, as at a log-off: the question and the
        # end to every window, then every program of the prefix is ended.
        self.addCleanup(lambda: subprocess.run(SETUP.wine("cmd", "/c", "exit"), env=SETUP.env,
                                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                               stderr=subprocess.DEVNULL, timeout=120))
        subprocess.run([SETUP.wine_with, "64", "wineboot", "--end-session", "--kill"], env=self.env,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        station.wait(timeout=30)
        self.assertFalse(os.path.exists(os.path.join(self.folder.name, "saved-1.bin")), "a transfer had ended")
        self.assertEqual(self.logged(), [(f"COM{n}", "stopped", "mub-station") for n in PORTS])


if __name__ == "__main__":
    run_window_tests(globals())
