#!/usr/bin/env python3
"""End-to-end tests of the Windows programs under Wine: mubtool.exe against
the Linux simulated machine on a pseudo-terminal mapped as a COM port, over
the serial channel and through the stand-in BridgeMini.dll.

Usage: wine_end_to_end_test.py WINDOWS_BIN LINUX_MUBTOOL WINEPREFIX [TEST...]
"""
import http.server
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_machine import WineSetup, windows_path  # noqa: E402

SETUP = None
MACHINE_PORT = 11  # above 9: opened as \\.\COM11


class MubtoolUnderWine(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory(prefix="mub-wine-")
        self.image = os.urandom(5000) + b"\x00\x7f\x18\x06"
        self.upgrade_file = SETUP.pack(self.folder.name, self.image)
        self.saved = os.path.join(self.folder.name, "saved.bin")
        self.machines = []

    def tearDown(self):
        for machine, number in self.machines:
            SETUP.stop_machine(machine, number)
        self.folder.cleanup()

    def machine(self, *options, port=MACHINE_PORT):
        machine = SETUP.start_machine(port, ["--save-image", self.saved, *options])
        self.machines.append((machine, port))
        return machine

    def upgrade(self, port, extra_env=None):
        return SETUP.run("mubtool.exe", ["upgrade", "--port", port, "--baud", "115200", "--yes",
                                         windows_path(self.upgrade_file)], extra_env)

    def saved_image(self):
        with open(self.saved, "rb") as f:
            return f.read()

    def test_com_port_upgrade_writes_the_image(self):
        self.machine()
        code, out, err = self.upgrade(f"COM{MACHINE_PORT}")
        self.assertEqual(code, 0, out + err)
        self.assertIn("升级完成", out)
        self.assertEqual(self.saved_image(), self.image)

    def test_usb_mode_goes_through_the_bridge_library(self):
        self.machine()
        code, out, err = SETUP.run("mubtool.exe", ["upgrade", "--port", "USB", "--baud", "115200", "--yes", "--json",
                                                   windows_path(self.upgrade_file)],
                                   {"BRIDGEMINI_PORT": f"COM{MACHINE_PORT}"}, encoding="utf-8")
        self.assertEqual(code, 0, out + err)
        self.assertEqual(json.loads(out)["exitCode"], 0)
        self.assertEqual(self.saved_image(), self.image)

    def test_station_upgrades_a_machine_on_each_of_two_com_ports(self):
        ports = (MACHINE_PORT, MACHINE_PORT + 1)
        saved = {n: os.path.join(self.folder.name, f"saved-{n}.bin") for n in ports}
        for n in ports:
            self.machines.append((SETUP.start_machine(n, ["--save-image", saved[n]]), n))
        log = os.path.join(self.folder.name, "upgrades.csv")
        code, out, err = SETUP.run("mubtool.exe", ["station", "--ports", ",".join(f"COM{n}" for n in ports),
                                                   "--baud", "115200", "--count", "2", "--log", windows_path(log),
                                                   windows_path(self.upgrade_file)])
        self.assertEqual(code, 0, out + err)
        for n in ports:
            with open(saved[n], "rb") as f:
                self.assertEqual(f.read(), self.image, f"COM{n}")
        with open(log, encoding="utf-8-sig") as f:
            lines = f.read().splitlines()
        self.assertEqual(len(lines), 3, lines)
        self.assertEqual(sorted(line.split('","')[3] for line in lines[1:]), [f"COM{n}" for n in ports])

    def test_com_search_finds_the_machine_past_missing_ports(self):
        SETUP.map_port(MACHINE_PORT - 2, None)
        SETUP.map_port(MACHINE_PORT - 1, None)
        self.machine()
        code, out, err = self.upgrade(f"COM{MACHINE_PORT - 2}")
        self.assertEqual(code, 0, out + err)
        self.assertEqual(self.saved_image(), self.image)

    def test_faults_end_with_their_exit_codes(self):
        rows = [
            (["--reject-block", "2:4"], 8, "通讯超时"),
            (["--silent"], 6, ""),
            (["--disconnect-at", "5"], 6, ""),
            (["--too-large-at", "3"], 7, ""),
        ]
        for options, expected, text in rows:
            with self.subTest(options=options):
                machine = self.machine(*options)
                code, out, err = self.upgrade(f"COM{MACHINE_PORT}")
                self.assertEqual(code, expected, out + err)
                self.assertIn(text, out + err)
                self.assertFalse(os.path.exists(self.saved))
                SETUP.stop_machine(machine, MACHINE_PORT)
                self.machines.remove((machine, MACHINE_PORT))

    def test_device_paths_are_refused(self):
        code, out, err = SETUP.run("mubtool.exe", ["detect", "--port", "Z:/dev/null"])
        self.assertEqual(code, 1, out + err)
        self.assertIn("not USB, COM1..COM255", err)

    def test_ctrl_c_stops_the_run(self):
        # Wine turns SIGINT into the console's Ctrl+C event.
        self.upgrade_file = SETUP.pack(self.folder.name, os.urandom(60000), name="slow")
        self.machine("--baud", "9600")
        output = os.path.join(self.folder.name, "out.txt")
        with open(output, "wb") as out:
            run = subprocess.Popen(SETUP.wine(os.path.join(SETUP.windows_bin, "mubtool.exe"), "upgrade", "--port",
                                               f"COM{MACHINE_PORT}", "--baud", "9600", "--yes",
                                               windows_path(self.upgrade_file)), env=SETUP.env, stdin=subprocess.DEVNULL,
                                   stdout=out, stderr=subprocess.DEVNULL)
        # Stopped once the transfer runs (its line is out).
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and run.poll() is None:
            with open(output, "rb") as f:
                if "更新中".encode("gbk") in f.read():
                    break
            time.sleep(0.1)
        run.send_signal(signal.SIGINT)
        code = run.wait(timeout=60)
        with open(output, "rb") as f:
            text = f.read().decode("gbk", "replace")
        self.assertEqual(code, 9, text)
        self.assertIn("升级被停止", text)
        self.assertFalse(os.path.exists(self.saved))

    def test_pack_info_and_detect_print_readable_chinese(self):
        # Chinese arguments and file names reach mubtool.exe whole; redirected
        # output is GBK.
        image = os.path.join(self.folder.name, "image.bin")
        packed = os.path.join(self.folder.name, "升级.mub")
        code, out, err = SETUP.run("mubtool.exe", ["pack", "--model", "型号Ｘ", "--hardware", "HW-1.0", "--software",
                                                   "9.99", windows_path(image), "-o", windows_path(packed)])
        self.assertEqual(code, 0, out + err)
        code, out, err = SETUP.run("mubtool.exe", ["info", windows_path(packed)])
        self.assertEqual(code, 0, out + err)
        self.assertIn("model: 型号Ｘ", out)
        self.machine("--model", "型号Ｘ")
        code, out, err = SETUP.run("mubtool.exe", ["detect", "--port", f"COM{MACHINE_PORT}"])
        self.assertEqual(code, 0, out + err)
        self.assertIn("机器型号: 型号Ｘ", out)

    def test_redirected_output_has_windows_line_ends(self):
        with tempfile.TemporaryFile() as out:
            subprocess.run(SETUP.wine(os.path.join(SETUP.windows_bin, "mubtool.exe"), "info",
                                      windows_path(self.upgrade_file)),
                           env=SETUP.env, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL, timeout=60)
            out.seek(0)
            text = out.read()
        self.assertEqual(text.count(b"\r\n"), 5, text)
        self.assertNotIn(b"\n", text.replace(b"\r\n", b""))

    def kind_library(self, kind):
        """The stand-in BridgeMini.dll of a kind (tools/bridge/CMakeLists.txt);
        the build's own one for ""."""
        folder = os.path.join(SETUP.windows_bin, "bridge-kinds", kind) if kind else SETUP.windows_bin
        return os.path.join(folder, "BridgeMini.dll")

    def in_chinese_folder(self, library):
        """mubtool.exe in a new folder named 升级工具 beside `library` (a path,
        or the bytes of the file) as BridgeMini.dll; returns its path."""
        folder = os.path.join(self.folder.name, "升级工具")
        shutil.rmtree(folder, ignore_errors=True)
        os.mkdir(folder)
        shutil.copy(os.path.join(SETUP.windows_bin, "mubtool.exe"), folder)
        target = os.path.join(folder, "BridgeMini.dll")
        if isinstance(library, bytes):
            with open(target, "wb") as f:
                f.write(library)
        else:
            shutil.copy(library, target)
        return os.path.join(folder, "mubtool.exe")

    def usb_upgrade(self, program, *options):
        return SETUP.run(program, ["upgrade", "--port", "USB", *options, windows_path(self.upgrade_file)],
                         {"BRIDGEMINI_PORT": f"COM{MACHINE_PORT}", "LANG": "zh_CN.UTF-8"})

    def test_usb_upgrade_from_a_chinese_folder(self):
        self.machine()
        code, out, err = self.usb_upgrade(self.in_chinese_folder(self.kind_library("")), "--baud", "115200", "--yes")
        self.assertEqual(code, 0, out + err)
        self.assertEqual(self.saved_image(), self.image)

    def test_usb_upgrade_through_each_kind_of_32_bit_library(self):
        if SETUP.bits != 32:
            self.skipTest("the 32-bit build's library kinds run where that build runs; this is the 64-bit build")
        for kind, convention in (("", "stdcall"), ("stdcall-decorated", "stdcall"), ("cdecl", "cdecl")):
            with self.subTest(kind=kind or "stdcall with plain names"):
                machine = self.machine()
                code, out, err = self.usb_upgrade(self.in_chinese_folder(self.kind_library(kind)), "--baud", "115200",
                                                  "--yes")
                self.assertEqual(code, 0, out + err)
                self.assertEqual(err.count("calling convention"), 1, err)
                self.assertIn(f"calling convention {convention}", err)
                self.assertEqual(self.saved_image(), self.image)
                SETUP.stop_machine(machine, MACHINE_PORT)
                self.machines.remove((machine, MACHINE_PORT))
                os.unlink(self.saved)

    def test_unusable_bridge_libraries_are_refused_with_their_reason(self):
        # The start of a PE file for programs of the other width.
        other_bits = 64 if SETUP.bits == 32 else 32
        header = bytearray(512)
        header[0:2] = b"MZ"
        header[0x3C] = 0x40
        header[0x40:0x44] = b"PE\0\0"
        header[0x44:0x46] = (0x8664 if other_bits == 64 else 0x14C).to_bytes(2, "little")
        # A system library of the program's own width, without the six functions.
        windows = os.path.join(SETUP.prefix, "drive_c", "windows")
        system = "syswow64" if os.path.isdir(os.path.join(windows, "syswow64")) and SETUP.bits == 32 else "system32"
        rows = [
            (bytes(header), f"is a {other_bits}-bit library", f"请使用{other_bits}位的升级工具"),
            (os.path.join(windows, system, "version.dll"), "lacks the function MA101_ConnectBridge",
             "缺少函数MA101_ConnectBridge"),
            (self.kind_library("needs-helper"), "a library it needs is missing", "所需要的其他DLL文件缺失"),
        ]
        if SETUP.bits == 32:
            rows.append((self.kind_library("odd-convention"), "unknown calling convention", "调用约定无法识别"))
        for library, english, chinese in rows:
            with self.subTest(english=english):
                code, out, err = self.usb_upgrade(self.in_chinese_folder(library))
                self.assertEqual(code, 6, out + err)
                self.assertIn(english, err)
                self.assertIn(chinese, err)

    def test_serial_channel_against_the_machine(self):
        self.machine(port=MACHINE_PORT + 1)
        code, out, err = SETUP.run("serial_channel_windows_tests.exe", [],
                                   {"MUB_TEST_COM": str(MACHINE_PORT + 1)})
        self.assertEqual(code, 0, out + err)

class Collector:
    """The collector's answers on 127.0.0.1 (a port of the system's choice),
    from the Linux side: POST /records is answered with `status` after
    `hold` seconds; the batches' record ids and tokens are kept."""

    def __init__(self):
        self.status, self.hold, self.batches = 200, 0, []
        collector = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                body = json.loads(self.rfile.read(int(self.headers["Content-Length"])))
                collector.batches.append((self.headers.get("Authorization"),
                                          [r["record_id"] for r in body["records"]], collector.status))
                time.sleep(collector.hold)
                answer = json.dumps({"stored": len(body["records"]), "duplicates": 0, "conflicts": []}
                                    if collector.status == 200 else {"error": "database unavailable"}).encode()
                self.send_response(collector.status)
                self.send_header("Content-Type", "application/json")
                self.send_header("Content-Length", str(len(answer)))
                self.end_headers()
                self.wfile.write(answer)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.address = f"http://127.0.0.1:{self.server.server_address[1]}"
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def acknowledged(self):
        return [i for _, ids, status in self.batches if status == 200 for i in ids]

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class RecordsUnderWine(unittest.TestCase):
    """The records sender of mubtool.exe (WinHTTP, the send lock, the mark
    replaced by a rename) against a collector on the Linux side."""

    def setUp(self):
        self.folder = tempfile.TemporaryDirectory(prefix="mub-wine-")
        self.upgrade_file = SETUP.pack(self.folder.name, os.urandom(3000))
        self.machines = []
        self.collector = Collector()
        self.log = os.path.join(self.folder.name, "upgrades.csv")
        self.records = ["--log", windows_path(self.log), "--send-to", self.collector.address, "--token", "wine-token"]

    def tearDown(self):
        self.collector.close()
        for machine in self.machines:
            SETUP.stop_machine(machine, MACHINE_PORT)
        self.folder.cleanup()

    def machine(self):
        self.machines.append(SETUP.start_machine(MACHINE_PORT))

    def log_ids(self):
        with open(self.log, encoding="utf-8-sig") as f:
            return [line.rsplit(",", 1)[1].strip('"') for line in f.read().splitlines()[1:]]

    def test_lines_go_to_the_collector_once_and_wait_while_it_cannot_take_them(self):
        self.machine()
        code, out, err = SETUP.run("mubtool.exe", ["upgrade", "--port", f"COM{MACHINE_PORT}", "--baud", "115200",
                                                   "--yes", *self.records, windows_path(self.upgrade_file)])
        self.assertEqual(code, 0, out + err)
        self.assertEqual(self.collector.acknowledged(), self.log_ids())
        self.assertEqual(self.collector.batches[0][0], "Bearer wine-token")
        with open(self.log + ".sent") as f:
            self.assertEqual(int(f.read()), os.path.getsize(self.log))

        self.collector.status = 503
        code, out, err = SETUP.run("mubtool.exe", ["detect", "--port", f"COM{MACHINE_PORT}", *self.records])
        self.assertEqual(code, 0, out + err)
        self.assertIn("wait to be sent", err)
        send = ["send", "--log", windows_path(self.log), "--to", self.collector.address, "--token", "wine-token"]
        code, out, err = SETUP.run("mubtool.exe", send)
        self.assertEqual(code, 13, out + err)
        self.assertIn("answered 503: database unavailable", err)

        self.collector.status = 200
        code, out, err = SETUP.run("mubtool.exe", send)
        self.assertEqual(code, 0, out + err)
        self.assertIn("sent 1 line(s): 1 stored", out)
        self.assertEqual(self.collector.acknowledged(), self.log_ids())

    def test_a_collector_that_does_not_answer_holds_the_command_5_seconds_at_most(self):
        self.machine()
        self.collector.hold = 60
        start = time.monotonic()
        code, out, err = SETUP.run("mubtool.exe", ["detect", "--port", f"COM{MACHINE_PORT}", *self.records])
        seconds = time.monotonic() - start
        self.assertEqual(code, 0, out + err)
        self.assertIn("wait to be sent", err)
        # 5 s for the sender, then its request under way is cancelled
        # (the request's own bound is 30 s).
        self.assertLess(seconds, 15, err)
        print(f"detect with a collector that does not answer: {seconds:.1f} s", file=sys.stderr)


if __name__ == "__main__":
    SETUP = WineSetup(*sys.argv[1:4])
    unittest.main(argv=sys.argv[:1] + sys.argv[4:], verbosity=2)
