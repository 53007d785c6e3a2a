#!/usr/bin/python3
"""gimbal-sim --can-server and --can-pty with python-can's own socketcand and
slcan interfaces as the clients: they see the motors' exchanges as can2.log
has them, and their frames go on the bus, where the other client sees them."""
import os
import re
import subprocess
import sys
import tempfile
import time
import unittest

import can

SIM = sys.argv.pop(1) if len(sys.argv) > 1 else "build/sim-fast/gimbal-sim"
LINE = re.compile(r"\((\d+\.\d{6})\) can2 ([0-9A-F]+)#(\S*)")


def log_of(out):
    with open(os.path.join(out, "can2.log")) as f:
        return [LINE.fullmatch(line.strip()).groups() for line in f]


def entry(msg):  # a received frame as can2.log writes it
    width = 8 if msg.arbitration_id > 0x7FF else 3
    return (f"{msg.timestamp:.6f}", f"{msg.arbitration_id:0{width}X}", msg.data.hex().upper())


class LiveCan(unittest.TestCase):
    def test_clients_see_the_bus_and_their_frames_go_on_it(self):
        d = tempfile.mkdtemp(prefix="live-can-")
        sim = subprocess.Popen([SIM, "--quiet", "--duration", "7", "--out", d, "--can-pty", "can2",
                                "--can-server", "127.0.0.1:0"], stderr=subprocess.PIPE, text=True)
        pty = re.fullmatch(r"can2 slcan on (\S+)\n", sim.stderr.readline()).group(1)
        port = int(re.search(r":(\d+) ", sim.stderr.readline()).group(1))
        slcan = can.Bus(interface="slcan", channel=pty, sleep_after_open=0)
        socketcand = can.Bus(interface="socketcand", host="127.0.0.1", port=port, channel="can2")
        got, by_slcan, sent_after = [], [], None
        deadline = time.monotonic() + 60
        while sim.poll() is None and time.monotonic() < deadline:
            msg = socketcand.recv(0.05)
            if msg:
                got.append(msg)
                if sent_after is None and msg.data[:2] == b"\xa2\x20":  # a motor's reply
                    sent_after = msg.timestamp
                    socketcand.send(can.Message(arbitration_id=0x321, data=b"\xde\xad\xbe\xef"))
                    slcan.send(can.Message(arbitration_id=0x1ABCDE, data=b"\x01\x02"))
            try:
                while (msg := slcan.recv(0)) is not None:
                    by_slcan.append((f"{msg.arbitration_id:03X}", msg.data.hex().upper()))
            except can.CanOperationError:  # the run ended and closed the terminal
                pass
        socketcand.shutdown()
        err = sim.stderr.read()
        sim.stderr.close()
        self.assertEqual(sim.wait(timeout=30), 0, err)

        log = log_of(d)
        ours = [i for i, e in enumerate(log) if e[1:] == ("321", "DEADBEEF")]
        self.assertEqual(len(ours), 1, log)
        # It went on the bus at the next slice boundary after the client sent it.
        self.assertLess(float(sent_after), float(log[ours[0]][0]))
        self.assertLess(float(log[ours[0]][0]), float(sent_after) + 1.0)
        # The socketcand client saw every frame but its own, with its virtual
        # time, from its first one on: the motors' commands and replies and
        # the slcan client's frame.
        seen = [entry(m) for m in got]
        first = log.index(seen[0])
        self.assertEqual(seen, [e for e in log[first:] if e[1] != "321"])
        self.assertIn(("001ABCDE", "0102"), [e[1:] for e in seen])
        for motor in ("141", "142"):
            exchanges = [e[2][:4] for e in seen if e[1] == motor]
            self.assertIn("A200", exchanges)  # command
            self.assertIn("A220", exchanges)  # reply
        # The slcan client saw the socketcand client's frame and the motors.
        self.assertIn(("321", "DEADBEEF"), by_slcan)
        self.assertIn(next(e[1:] for e in seen if e[1] == "141"), by_slcan)

        # Until the clients sent, the bus is the run's without them.
        plain = os.path.join(d, "plain")
        subprocess.run([SIM, "--quiet", "--duration", "7", "--out", plain], check=True)
        live = min(i for i, e in enumerate(log) if e[1] in ("321", "001ABCDE"))
        self.assertEqual(log[:live], log_of(plain)[:live])


if __name__ == "__main__":
    unittest.main()
