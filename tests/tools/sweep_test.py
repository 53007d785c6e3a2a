#!/usr/bin/python3
"""tools/sweep against a stand-in simulator: the grid it expands, the CSV it
gathers (metrics, exit statuses, runs without a result) and its refusals;
the other tools' refusals of bad input."""
import csv
import importlib.util
import json
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest
from importlib.machinery import SourceFileLoader

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.join(HERE, "..", "..", "tools")
SWEEP = os.path.join(TOOLS, "sweep")
FAKE = os.path.join(HERE, "fake-gimbal-sim")


def sweep(grid, *options, start=subprocess.run):
    d = tempfile.mkdtemp(prefix="sweep-test-")
    path = os.path.join(d, "grid.json")
    with open(path, "w") as f:
        f.write(grid if isinstance(grid, str) else json.dumps(grid))
    open(os.path.join(d, "file"), "w").close()
    cmd = [SWEEP, path, "--out", os.path.join(d, "out"), "--jobs", "2", "--gimbal-sim", FAKE,
           *[o.replace("DIR", d) for o in options]]
    if start is not subprocess.run:
        return start(cmd, stderr=subprocess.PIPE, text=True), os.path.join(d, "out")
    return start(cmd, capture_output=True, text=True, timeout=120), os.path.join(d, "out")


def read_csv(out):
    with open(os.path.join(out, "sweep.csv")) as f:
        return list(csv.DictReader(f))


class SweepGrid(unittest.TestCase):
    GRID = {
        "duration_s": 3,
        "gains": {"kp": [100, 300], "ki": [5], "kd": [0, 40]},
        "disturbances": {"still": {"profile": "still"}, "sway": {"profile": "sway"}},
        "faults": {"none": {}, "imu_absent": {"imu": {"present": False}},
                   "halt": {"fault": "halt"}, "crash": {"fault": "crash"}},
        "seeds": [1],
    }

    @classmethod
    def setUpClass(cls):
        cls.proc, cls.out = sweep(cls.GRID)
        cls.rows = read_csv(cls.out)

    def test_one_row_per_point_in_grid_order(self):
        self.assertEqual(len(self.rows), 2 * 1 * 2 * 2 * 4)
        self.assertEqual([r["run"] for r in self.rows],
                         [f"{i:04d}" for i in range(1, len(self.rows) + 1)])
        first = self.rows[0]
        self.assertEqual((first["kp"], first["ki"], first["kd"], first["disturbance"],
                          first["fault"], first["seed"]), ("100", "5", "0", "still", "none", "1"))

    def test_each_run_got_its_own_scenario(self):
        for r in self.rows:
            with open(os.path.join(self.out, "runs", r["run"], "scenario.json")) as f:
                s = json.load(f)
            self.assertEqual(s["control"]["roll"], s["control"]["pitch"])
            self.assertEqual([s["control"]["roll"][k] for k in ("kp", "ki", "kd")],
                             [float(r["kp"]), float(r["ki"]), float(r["kd"])])
            self.assertEqual(s["disturbance"]["profile"], r["disturbance"])
            self.assertEqual((s["seed"], s["duration_s"]), (int(r["seed"]), 3))
            self.assertEqual(s.get("imu", {}).get("present", True), r["fault"] != "imu_absent")

    def test_metrics_and_status_per_fault(self):
        cases = {  # fault: exit status, halted, imu reads failed, has metrics
            "none": ("0", "", "0", True),
            "imu_absent": ("0", "", "7", True),
            "halt": ("3", "Error_Handler", "0", True),
            "crash": ("1", "", "", False),
        }
        for r in self.rows:
            status, halted, imu_failed, has = cases[r["fault"]]
            with self.subTest(run=r["run"], fault=r["fault"]):
                self.assertEqual((r["exit_status"], r["halted"], r["imu_reads_failed"]),
                                 (status, halted, imu_failed))
                if has:
                    kp, kd = float(r["kp"]), float(r["kd"])
                    self.assertAlmostEqual(float(r["roll_rms_error_deg"]), kp / 100)
                    self.assertAlmostEqual(float(r["pitch_peak_error_deg"]), kd / 5)
                    self.assertEqual(r["speed_commands_sent"], str(int(r["seed"]) * 10))
                    self.assertEqual(r["stability"], "unstable" if kp > 250 else "stable")
                    self.assertEqual(r["settle_s"], "")  # null: never settled
                else:
                    self.assertEqual(r["roll_rms_error_deg"], "")

    def test_runs_without_result_fail_the_sweep_but_keep_the_rest(self):
        self.assertEqual(self.proc.returncode, 1, self.proc.stderr)
        self.assertIn("8 without a result", self.proc.stderr)

    def test_map_is_a_png(self):
        with open(os.path.join(self.out, "stability_map.png"), "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")


class SweepRefusals(unittest.TestCase):
    def test_bad_grids_exit_2_naming_the_key(self):
        cases = [
            ({"gain": {}}, "unknown key 'gain'"),
            ({"gains": {"kp": [1], "ki": [1]}}, "'gains.kd' is missing"),
            ({"gains": {"kp": [1], "ki": [1], "kd": [1], "kf": [1]}}, "'gains.kf'"),
            ({"gains": {"kp": [], "ki": [1], "kd": [1]}}, "'gains.kp' is an empty list"),
            ({"gains": {"kp": ["a"], "ki": [1], "kd": [1]}}, "'gains.kp' must hold numbers"),
            ({"seeds": [-1]}, "'seeds' must hold integers"),
            ({"faults": {"x": 3}}, "'faults.x' must be an object"),
            ({"disturbances": []}, "'disturbances' must be a non-empty object"),
            ("[1, 2]", "must be a JSON object"),
            ("{", "sweep:"),
            ({"faults": {"x": {"imu": {}}, "y": {"imux": {}}}}, "fault 'y': unknown key 'imux'"),
            ('{"faults": {"x": {}, "x": {"imu": {}}}}', "'x' is given twice"),
            ("[]", "must be a JSON object", "--duration", "3"),
            ({}, "/file/out: Not a directory", "--out", "DIR/file/out"),
            ({}, "--jobs must be a number", "--jobs", "0"),
        ]
        for grid, message, *options in cases:
            with self.subTest(grid=grid, options=options):
                p, out = sweep(grid, *options)
                self.assertNotIn("Traceback", p.stderr)
                self.assertEqual(p.returncode, 2, p.stderr)
                self.assertIn(message, p.stderr)
                self.assertFalse(os.path.exists(os.path.join(out, "sweep.csv")))

    def test_a_stopped_sweep_stops_its_runs(self):
        p, out = sweep({"faults": {"sleep": {"fault": "sleep"}}}, start=subprocess.Popen)
        pid_file = os.path.join(out, "runs", "0001", "pid")
        for _ in range(200):
            if os.path.exists(pid_file) and os.path.getsize(pid_file):
                break
            time.sleep(0.05)
        with open(pid_file) as f:
            run = int(f.read())
        p.send_signal(signal.SIGTERM)
        err = p.communicate(timeout=20)[1]
        self.assertEqual(p.returncode, 128 + signal.SIGTERM, err)
        self.assertRaises(ProcessLookupError, os.kill, run, 0)

    def test_firmware_gains_when_grid_names_none(self):
        p, out = sweep({"seeds": [4]}, "--duration", "1.5")
        rows = read_csv(out)
        self.assertEqual(len(rows), 1)
        with open(os.path.join(out, "runs", "0001", "scenario.json")) as f:
            self.assertEqual(json.load(f), {"seed": 4, "duration_s": 1.5})


class OtherToolsRefuseBadInput(unittest.TestCase):
    FILES = {  # name: content; a folder "run-NAME" holds it as trace.csv
        "foreign": b"a,b\n1,2\n",
        "binary": bytes(range(256)),
        "cut": b"time_s,event,base_roll_deg,base_pitch_deg,platform_roll_deg,"
               b"platform_pitch_deg,sent_id,sent_speed_dps\n0.0,plant,1,2,3",
        "can-cut": b"(0.001000) can2 141#A2000000\n(0.002000) can2 14",
        "can-foreign": b"hello\n",
    }

    def test_one_line_and_the_documented_status(self):
        d = tempfile.mkdtemp(prefix="tools-test-")
        for name, content in self.FILES.items():
            os.makedirs(os.path.join(d, "run-" + name))
            for path in (os.path.join(d, name), os.path.join(d, "run-" + name, "trace.csv")):
                with open(path, "wb") as f:
                    f.write(content)
        cases = [  # tool and arguments, exit status, message
            (["plot-run", "DIR/nosuch"], 1, "no DIR/nosuch/trace.csv"),
            (["plot-run", "DIR/run-foreign"], 1, "not a gimbal-sim trace (no column time_s)"),
            (["plot-run", "DIR/run-binary"], 1, "not a gimbal-sim trace (not text)"),
            (["plot-run", "DIR/run-cut"], 1, "cut off or malformed at line 2"),
            (["can/decode-log", "DIR/nosuch"], 2, "DIR/nosuch: No such file"),
            (["can/decode-log", "DIR/can-cut"], 2, "cut off: the last line has no end"),
            (["can/decode-log", "DIR/can-foreign"], 2, "line 1 is not a candump log line"),
            (["can/decode-log", "DIR/can-foreign", "--dbc", "DIR/foreign"], 2, "not a DBC"),
            (["fuzz", "2", "nosuch"], 2, "no fuzz target 'nosuch'"),
            (["fuzz", "0"], 2, "SECONDS must be a whole number from 1"),
            (["soak", "abc"], 2, "SECONDS must be a number"),
            (["soak-report", "DIR/nosuch", "DIR/nosuch", "0"], 2, "No such file"),
        ]
        for args, status, message in cases:
            with self.subTest(args=args):
                p = subprocess.run([os.path.join(TOOLS, args[0])] +
                                   [a.replace("DIR", d) for a in args[1:]],
                                   capture_output=True, text=True, timeout=60)
                self.assertEqual(p.returncode, status, p.stderr)
                self.assertEqual(p.stderr.count("\n"), 1, p.stderr)
                self.assertIn(message.replace("DIR", d), p.stderr)

    def test_plot_breaks_the_line_at_a_wrap(self):
        loader = SourceFileLoader("plot_run", os.path.join(TOOLS, "plot-run"))
        plot = importlib.util.module_from_spec(importlib.util.spec_from_loader("plot_run", loader))
        loader.exec_module(plot)
        t, v = plot.broken_at_wrap([0, 1, 2, 3], [170, 179, -179, -170])
        self.assertEqual(t[:2] + t[3:], [0, 1, 2, 3])
        self.assertEqual((v[:2], v[3:]), ([170, 179], [-179, -170]))
        self.assertNotEqual(v[2], v[2])  # NaN: no line from 179 to -179


if __name__ == "__main__":
    unittest.main()
