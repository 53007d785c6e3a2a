#!/usr/bin/python3
"""gimbal-sim --console-pty: a reader on the printed pseudo-terminal gets the
console bytes unchanged, at the board's pace, and the run's files are the same
as without the terminal."""
import json
import os
import re
import select
import subprocess
import sys
import tempfile
import time
import unittest

SIM = sys.argv.pop(1) if len(sys.argv) > 1 else "build/sim/gimbal-sim"


def read_file(path):
    with open(path, "rb") as f:
        return f.read()


class ConsolePty(unittest.TestCase):
    def run_on_pty(self, duration, out, wait=None):
        start = time.monotonic()
        p = subprocess.Popen([SIM, "--console-pty", "--duration", str(duration), "--out", out]
                             + (["--console-wait"] if wait else []),
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        first = p.stderr.readline().decode()
        m = re.fullmatch(r"console on (/dev/pts/\d+)\n", first)
        self.assertIsNotNone(m, first)
        time.sleep(wait or 0)  # the board, held at reset, has not begun
        fd = os.open(m.group(1), os.O_RDONLY | os.O_NOCTTY)
        got = b""
        try:
            while True:
                ready, _, _ = select.select([fd], [], [], 0.2)
                if ready:
                    try:
                        chunk = os.read(fd, 4096)
                    except OSError:  # the board's side closed
                        break
                    if not chunk:
                        break
                    got += chunk
                elif p.poll() is not None:
                    break
        finally:
            os.close(fd)
        rest_err = p.stderr.read().decode()
        p.stdout.read()
        p.wait(timeout=60)
        return p.returncode, got, first + rest_err, time.monotonic() - start

    def test_reader_gets_the_console_at_board_pace(self):
        d = tempfile.mkdtemp(prefix="pty-test-")
        status, got, err, wall = self.run_on_pty(2, os.path.join(d, "pty"))
        self.assertEqual(status, 0, err)
        console = read_file(os.path.join(d, "pty", "console.log"))
        self.assertIn(b"[sensor_task] raw data", console)
        self.assertEqual(got, console)  # raw: no CR added, nothing lost
        # Paced: two virtual seconds take at least about two wall seconds.
        self.assertGreaterEqual(wall, 1.9)

        plain = os.path.join(d, "plain")
        subprocess.run([SIM, "--quiet", "--duration", "2", "--out", plain], check=True)
        for name in ("console.log", "can2.log", "i2c.vcd"):
            self.assertEqual(read_file(os.path.join(d, "pty", name)),
                             read_file(os.path.join(plain, name)), name)
        a, b = (json.loads(read_file(os.path.join(x, "summary.json")))
                for x in (os.path.join(d, "pty"), plain))
        a.pop("wall_time_s")
        b.pop("wall_time_s")
        self.assertEqual(a, b)

    def test_console_wait_holds_the_board_until_a_terminal_opens(self):
        d = tempfile.mkdtemp(prefix="pty-wait-")
        status, got, err, wall = self.run_on_pty(1, d, wait=1.5)
        self.assertEqual(status, 0, err)
        self.assertEqual(got, read_file(os.path.join(d, "console.log")))
        self.assertGreaterEqual(wall, 2.4)


if __name__ == "__main__":
    unittest.main()
