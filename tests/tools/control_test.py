"""gimbal-sim --control driven from pytest through tools/gimbal_control.py: a
motor lost mid-run, the stale frames when the bus comes back (the same files
as the scenario's own window), and the same script giving the same files."""
import json
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from gimbal_control import DEFAULT_SIM, GimbalSim  # noqa: E402

SIM = os.environ.get("GIMBAL_SIM", DEFAULT_SIM)
ARGS = os.environ.get("GIMBAL_SIM_ARGS", "").split()  # "--image arm IMAGE": the ARM image
LATE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../scenarios/motors-late.json")
FILES = ("can2.log", "console.log", "trace.csv", "i2c.vcd")


def files(d):
    return {name: (d / name).read_bytes() for name in FILES}


def test_lost_motor_reports_failed_exchanges(tmp_path):
    with GimbalSim(out=str(tmp_path), args=ARGS) as sim:
        assert sim.run(6) == 6.0
        sim.fault("motor_absent", True, motor="0x141")
        got = sim.wait_console(r"^Error: (Failed to send|Timeout waiting)", within_s=2)
        assert got["matched"] and got["time_s"] == got["line"]["at_s"] > 6
        assert got["line"]["text"].endswith("(ID 0x141)")
        # The driver's call returns, and the failure counts, just after its line.
        end = sim.run(0.001)
        assert sim.counters()["metrics"]["motor_exchanges_failed"] == 1
        assert sim.finish() == 0
    summary = json.loads((tmp_path / "summary.json").read_text())
    assert summary["virtual_time_s"] == end
    assert summary["control"] == {"commands": 6, "errors": 0, "ended_by": "finish"}


def test_bus_back_sends_stale_frames_as_the_scenario_window_does(tmp_path):
    tilt = tmp_path / "tilt.json"
    tilt.write_text('{"disturbance": {"roll": {"tilt_deg": 10}}}')
    with GimbalSim(out=str(tmp_path / "scripted"), scenario=str(tilt)) as sim:
        sim.fault("motor_absent", True)
        sim.run_to(7)
        sim.fault("motor_absent", False)
        frame = sim.wait_frame(0x141, within_s=0.01)["frame"]
        assert frame["data"].startswith("80") and 7 < frame["at_s"] < 7.001  # start-up's close
        sim.run_to(8)
        assert sim.finish() == 0
    subprocess.run([SIM, "--quiet", "--scenario", LATE, "--duration", "8", "--out",
                    str(tmp_path / "windows")], check=True)
    assert files(tmp_path / "scripted") == files(tmp_path / "windows")


SCRIPT = ['not json', '{"cmd": "fly"}', '{"cmd": "run", "for_s": -1}', '[1, 2]',
          '{"cmd": "wait_frame", "id": "0x800", "ext": false, "within_s": 1}',
          '{"cmd": "wait_console", "regex": "(", "within_s": 1}', '{"cmd": "run", "for_s": 5.5}',
          '{"cmd": "fault", "fault": "imu_absent", "on": true}', '{"cmd": "run", "for_s": 1}',
          '{"cmd": "wait_console", "regex": "raw data", "within_s": 2}',
          '{"cmd": "fault", "fault": "imu_absent", "on": false}',
          '{"cmd": "wait_console", "regex": "raw data", "within_s": 3}',
          '{"cmd": "wait_frame", "id": 322, "data": "A2", "within_s": 1}', '{"cmd": "counters"}']


def test_same_script_same_files_bad_lines_refused(tmp_path):
    replies = []
    for end in ("finish", "disconnect"):
        with GimbalSim(out=str(tmp_path / end)) as sim:
            replies.append([sim.send_line(line) for line in SCRIPT])
            assert (sim.finish() if end == "finish" else sim.close()) == 0
        summary = json.loads((tmp_path / end / "summary.json").read_text())
        assert summary["control"] == {"commands": 14 + (end == "finish"), "errors": 6, "ended_by": end}
    assert replies[0] == replies[1]
    assert [r["ok"] for r in replies[0]] == [False] * 6 + [True] * 8
    assert [r.get("matched") for r in replies[0][9:13]] == [False, None, True, True]
    assert replies[0][-1]["metrics"]["imu_reads_failed"] > 0
    assert files(tmp_path / "finish") == files(tmp_path / "disconnect")
    assert subprocess.run([SIM, "--control", "1.2.3:99999", "--check"]).returncode == 2
