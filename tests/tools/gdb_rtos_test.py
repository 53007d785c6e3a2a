#!/usr/bin/python3
"""tools/gdb/gimbal_rtos.py under gdb -batch on the optimised build: stopped in
the control loop, the kernel's threads and states, a switched-out thread's
backtrace with the registers put back, and a stop on virtual time."""
import os
import re
import subprocess
import sys
import tempfile
import unittest

SIM = sys.argv.pop(1) if len(sys.argv) > 1 else "build/sim-fast/gimbal-sim"
EXT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../tools/gdb/gimbal_rtos.py")
ROW = re.compile(r"^(\w+) +(\d+)  (\w+) +(\d+) *(.*)$", re.M)


class GdbRtos(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cmds = ["break PIDController_Compute", "run", "info rtos", "rtos bt sensorTask", "bt 1",
                "delete", "rtos break-at 8.5", "continue", "info rtos", "rtos bt nosuch"]
        with tempfile.TemporaryDirectory() as out:
            args = ["gdb", "-nx", "-batch", "-x", EXT] + [a for c in cmds for a in ("-ex", c)]
            args += ["--args", SIM, "--quiet", "--duration", "10", "--out", out]
            run = subprocess.run(args, capture_output=True, text=True, timeout=300)
        cls.out = run.stdout + run.stderr
        cls.parts = re.split(r"^tick (\d+)\n", cls.out, flags=re.M)

    def rows(self, table):
        return {m[0]: m[1:] for m in ROW.findall(self.parts[table])}

    def test_threads_stopped_in_the_control_loop(self):
        rows = self.rows(2)
        self.assertEqual(rows["controlTask"][:3], ("24", "running", "2048"), self.out)
        self.assertEqual(rows["sensorTask"][:3], ("40", "delayed", "1024"))
        self.assertRegex(rows["sensorTask"][3], r"^until tick \d+$")
        self.assertIn(rows["monitorTask"][1], ("ready", "delayed"))

    def test_switched_out_backtrace_then_own_registers(self):
        bt = self.parts[2]
        self.assertRegex(bt, r"Kernel::delay \(.*ticks=500\).*\n#\d+ .* in sensor_task \(\)")
        self.assertRegex(bt, r"\n#0  PIDController_Compute")  # "bt 1" after the switch back
        self.assertIn("no thread 'nosuch' (monitorTask, controlTask, sensorTask)", self.out)

    def test_stop_on_virtual_time(self):
        t = float(re.search(r"virtual time ([\d.]+) s", self.out).group(1))
        self.assertTrue(8.5 <= t < 8.55, t)
        self.assertLessEqual(int(self.parts[3]), int(t * 1000))


if __name__ == "__main__":
    unittest.main()
