"""Drives a gimbal-sim run through its control interface (--control), for
test scripts: the board stays at virtual time 0 until told to run, and every
stop is an exact virtual time, so the same script gives the same files.

    from gimbal_control import GimbalSim
    with GimbalSim(out="out", scenario="scenarios/default.json") as sim:
        sim.run(6)
        sim.fault("motor_absent", True, motor=0x141)
        line = sim.wait_console(r"Error: Timeout", within_s=2)
        sim.finish()

Standard library only; the command and reply formats are in the README
("Scripted runs").
"""
import json
import os
import re
import socket
import subprocess
import threading

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_SIM = os.path.join(HERE, "..", "build", "sim-fast", "gimbal-sim")


class ControlError(Exception):
    """gimbal-sim refused a command, or the run ended under the script."""


class GimbalSim:
    def __init__(self, out, scenario=None, args=(), sim=None, timeout_s=300):
        cmd = [sim or os.environ.get("GIMBAL_SIM", DEFAULT_SIM), "--control", "0", "--quiet",
               "--out", out]
        cmd += ["--scenario", scenario] if scenario else []
        self.proc = subprocess.Popen(cmd + list(args), stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        self.stderr = []
        where = None
        for line in self.proc.stderr:
            self.stderr.append(line)
            where = re.match(r"gimbal-(?:sim|arm): control on ([\d.]+):(\d+)$", line)
            if where:
                break
        if not where:
            self.proc.wait()
            raise ControlError("gimbal-sim exited %d: %s" % (self.proc.returncode,
                                                             "".join(self.stderr)))
        # The rest of standard error, so that a full pipe never blocks the run.
        threading.Thread(target=lambda: self.stderr.extend(self.proc.stderr), daemon=True).start()
        self.sock = socket.create_connection((where[1], int(where[2])), timeout=timeout_s)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.file = self.sock.makefile("rw", encoding="utf-8", newline="\n")
        self.timeout_s = timeout_s

    def send_line(self, text):
        """One raw line, and the reply as it came (a dict), errors included."""
        self.file.write(text + "\n")
        self.file.flush()
        reply = self.file.readline()
        if not reply:
            raise ControlError("gimbal-sim closed the connection: " + "".join(self.stderr))
        return json.loads(reply)

    def command(self, cmd, **args):
        reply = self.send_line(json.dumps(dict(cmd=cmd, **args)))
        if not reply["ok"]:
            raise ControlError(reply["error"])
        return reply

    def run(self, seconds):
        """Runs the board for `seconds` of virtual time; the virtual time reached."""
        return self.command("run", for_s=seconds)["time_s"]

    def run_to(self, time_s):
        return self.command("run", to_s=time_s)["time_s"]

    def wait_console(self, regex, within_s):
        """Runs until a console line matches `regex` (re.search's sense, ECMAScript
        syntax) or `within_s` pass: the reply, with "matched", "line" and "time_s"."""
        return self.command("wait_console", regex=regex, within_s=within_s)

    def wait_frame(self, id, bus="can2", within_s=1.0, data=None):
        """Runs until a frame with identifier `id` (and leading bytes `data`,
        hexadecimal) completes on `bus`: the reply, with "matched", "frame", "time_s"."""
        args = dict(id=id, bus=bus, within_s=within_s)
        if data is not None:
            args["data"] = data
        return self.command("wait_frame", **args)

    def fault(self, name, on=True, **values):
        """Switches a fault on or off now (motor=ID for one motor; values such as
        reply_delay_us, stretch_scl_us, for_ms)."""
        return self.command("fault", fault=name, on=on, **values)["time_s"]

    def counters(self):
        return self.command("counters")

    def summary(self):
        return self.command("summary")["summary"]

    def finish(self):
        """Ends the run as a normal one ends, files written; gimbal-sim's exit status."""
        self.command("finish")
        return self.close()

    def close(self):
        """Leaves the run (which then ends, its files whole); the exit status."""
        for f in (self.file, self.sock):
            try:
                f.close()
            except OSError:
                pass
        return self.proc.wait(timeout=self.timeout_s)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.proc.poll() is None:
            self.close()
