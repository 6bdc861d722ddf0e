"""Runs Windows programs under Wine against the Linux simulated machine.

The machine (`mubtool simulate` of the Linux build) runs on a new
pseudo-terminal, which a link in the Wine prefix's dosdevices folder makes
the COM port of the given number. Shared by the end-to-end tests and the
transfer benchmark.
"""
import os
import subprocess
import tempfile
import time

WINE_WITH = os.path.join(os.path.dirname(os.path.abspath(__file__)), "wine-with")

class WineSetup:
    def __init__(self, windows_bin, linux_mubtool, prefix):
        self.windows_bin = windows_bin
        self.linux_mubtool = linux_mubtool
        self.prefix = prefix
        with open(os.path.join(windows_bin, "mubtool.exe"), "rb") as f:
            header = f.read(4096)
        pe = int.from_bytes(header[0x3C:0x40], "little")
        self.bits = 32 if header[pe + 4:pe + 6] == b"\x4c\x01" else 64
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")

    wine_with = WINE_WITH

    def wine(self, program, *args):
        """The command line that runs a Windows program (a path, or a
        program of the prefix such as reg) under the loader of this build's
        bitness."""
        return [WINE_WITH, str(self.bits), program, *args]

    def use_own_desktop(self, program, name, env, wine=None):
        """Every copy of PROGRAM (upgrader.exe, ...) started with plain
        `wine` joins the virtual desktop NAME of the prefix's per-program
        defaults, so that a test sees each copy's own exit code (`wine
        explorer /desktop=...` always ends with 0). The name should be new
        for each test: a desktop left by an earlier run lives on that run's
        display. WINE makes the command line (default: this setup's)."""
        wine = wine or self.wine
        for key, value, data in ((rf"HKCU\Software\Wine\AppDefaults\{program}\Explorer", "Desktop", name),
                                 (r"HKCU\Software\Wine\Explorer\Desktops", name, "1024x768")):
            # reg fails now and then in a prefix whose server has only just
            # started (seen for a new user's prefix); the value is set again.
            for attempt in range(3):
                done = subprocess.run(wine("reg", "add", key, "/v", value, "/d", data, "/f"), env=env,
                                      stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
                if done.returncode == 0:
                    break
                time.sleep(1)
            else:
                raise RuntimeError(f"reg add {key} failed ({done.returncode}): "
                                   f"{done.stdout.decode(errors='replace')}{done.stderr.decode(errors='replace')}")

    def com_link(self, number):
        return os.path.join(self.prefix, "dosdevices", f"com{number}")

    def map_port(self, number, device):
        link = self.com_link(number)
        if os.path.lexists(link):
            os.unlink(link)
        if device:
            os.symlink(device, link)

    def start_machine(self, number, options=()):
        """Starts a simulated machine reached as COM<number>; returns it."""
        machine = subprocess.Popen([self.linux_mubtool, "simulate", *options], stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL, text=True)
        device = machine.stdout.readline().strip()
        if not device:
            machine.kill()
            raise RuntimeError("the simulated machine did not start")
        self.map_port(number, device)
        return machine

    def stop_machine(self, machine, number):
        machine.terminate()
        try:
            machine.wait(timeout=10)
        except subprocess.TimeoutExpired:
            machine.kill()
            machine.wait()
        machine.stdout.close()
        self.map_port(number, None)

    def run(self, program, args, extra_env=None, timeout=120, encoding="gbk"):
        """Runs a Windows program with its output redirected to files; returns
        (exit code, stdout, stderr) decoded from GBK, as the programs write
        redirected output (stdout from `encoding`)."""
        env = dict(self.env, **(extra_env or {}))
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            code = subprocess.run(self.wine(os.path.join(self.windows_bin, program), *args), env=env,
                                  stdin=subprocess.DEVNULL, stdout=out, stderr=err, timeout=timeout).returncode
            out.seek(0)
            err.seek(0)
            return (code, out.read().decode(encoding, "replace").replace("\r\n", "\n"),
                    err.read().decode("gbk", "replace").replace("\r\n", "\n"))

    def pack(self, folder, image, software="9.99", name="image"):
        """Packs an upgrade file for the simulated machine's default identity."""
        image_path = os.path.join(folder, f"{name}.bin")
        with open(image_path, "wb") as f:
            f.write(image)
        upgrade_file = os.path.join(folder, f"{name}.mub")
        subprocess.run([self.linux_mubtool, "pack", "--model", "QM-3000", "--hardware", "HW-1.0", "--software",
                        software, image_path, "-o", upgrade_file], check=True, stdout=subprocess.DEVNULL)
        return upgrade_file


def windows_path(path):
    """The path of a Linux file as Wine's programs see it (drive Z:)."""
    return "Z:" + path.replace("/", "\\")


def run_window_tests(test_globals):
    """The main of a window test: WINDOWS_BIN LINUX_MUBTOOL WINEPREFIX [TEST...]
    from the command line, the Wine setup and a virtual X server (1024x768)
    given to the test module as its SETUP and DISPLAY, then its tests."""
    import sys
    import unittest
    windows_bin, linux_mubtool, prefix = (os.path.abspath(arg) for arg in sys.argv[1:4])
    test_globals["SETUP"] = WineSetup(windows_bin, linux_mubtool, prefix)
    read, write = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as f:
        test_globals["DISPLAY"] = ":" + f.readline().strip()
    try:
        result = unittest.main(argv=sys.argv[:1] + sys.argv[4:], exit=False).result
    finally:
        xvfb.terminate()
        xvfb.wait()
    sys.exit(0 if result.wasSuccessful() else 1)
