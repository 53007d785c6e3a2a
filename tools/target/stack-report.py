#!/usr/bin/env python3
"""Worst-case stack use per thread entry of the firmware, from GCC's output.

Reads the call graphs that -fcallgraph-info=su writes next to every object
(.ci files, one node per function with its frame size, one edge per call) and
walks the deepest path from each entry. Calls into code that was not compiled
here (the HAL, the kernel, the runtime library) have no frame size: the report
names them, since their stack use comes on top of the figure. Calls through
the interface layer's operation tables and through the functions the sensor
task registers with the JY901 library are resolved by name below; any other
indirect call is named as unresolved.

With --measured, the log of the test image run on an emulated Cortex-M4
(tests/target) gives the runtime library's share: the measured stack of
printf and puts (worst console format, a thread's first call included, down
through the firmware's _write to a UART stand-in), used as their frames here,
and the measured high-water mark of one pass of each thread body.

Every thread also needs room for being switched out at its deepest point: the
exception frame with FPU state, then the kernel's save of the rest.

usage: stack-report.py [--stack BYTES] [--measured LOG] BUILD_DIR
Exit status 1 when an entry's use reaches the thread stack.
"""

import argparse
import pathlib
import re
import sys

# Entry handed to the kernel -> what it runs, and its attributes in the thread
# table; main runs on the main stack.
ENTRIES = [
    ("StartSensorTask", "sensor_task", "sensorTask_attributes"),
    ("StartControlTask", "control_task", "controlTask_attributes"),
    ("StartMonitorTask", "monitor_task", "monitorTask_attributes"),
    ("main", "main", None),
]
THREAD_TABLE = pathlib.Path(__file__).resolve().parents[2] / "Core/Src/freertos.cpp"
STACK_SIZE = re.compile(r"(\w+_attributes) = \{[^}]*?\.stack_size = (\d+) \* (\d+),", re.S)


def stack_sizes():
    """Attributes name -> stack size in bytes, as the thread table creates them."""
    return {m.group(1): int(m.group(2)) * int(m.group(3))
            for m in STACK_SIZE.finditer(THREAD_TABLE.read_text())}

# The functions the sensor task registers with the JY901 library: every
# indirect call inside the library may reach any of them.
JY901_CALLBACKS = ["IICreadBytes", "IICwriteBytes", "CopeSensorData", "Delayms"]

# ARMv7-M exception entry with the FPU context (lazy stacking reserves it):
# 26 words, plus one of alignment.
EXCEPTION_FRAME = 108
# The kernel's context switch (PendSV) then saves r4-r11 and LR, and s16-s31
# for a thread that has used the FPU: 9 + 16 words.
SWITCH_FRAME = 100
# What the runtime library's figures cannot include: the HAL's own transmit
# in place of the image's UART stand-in.
RUNTIME_BELOW = {"printf": "HAL_UART_Transmit", "puts": "HAL_UART_Transmit"}
MEASURED = re.compile(r"^stack (runtime|pass) (\w+) (\d+)$")
MEASURED_CALL = re.compile(r"^stack call (\w+) (\w+) (\d+)$")


def load_measured(path):
    """printf/puts -> worst of all formats; body -> pass; (caller, fn) -> worst."""
    runtime, passes, calls = {}, {}, {}
    for line in open(path):
        m = MEASURED.match(line.strip())
        if m:
            (runtime if m.group(1) == "runtime" else passes)[m.group(2)] = int(m.group(3))
        m = MEASURED_CALL.match(line.strip())
        if m:
            key = (m.group(1), m.group(2))
            calls[key] = max(calls.get(key, 0), int(m.group(3)))
    if not runtime:
        sys.exit(f"stack-report: no 'stack runtime' lines in {path}")
    return runtime, passes, calls

NODE = re.compile(r'node: \{ title: "([^"]*)" label: "((?:[^"\\]|\\.)*)"(.*)\}')
EDGE = re.compile(r'edge: \{ sourcename: "([^"]*)" targetname: "([^"]*)"')
FRAME = re.compile(r"\\n(\d+) bytes \(([a-z,]+)\)$")


def short_name(label):
    """'int led_if_write(int, int)\\n...' -> 'led_if_write'."""
    sig = label.split("\\n", 1)[0]
    head = sig.split("(", 1)[0]
    return re.split(r"[\s*&]+", head.strip())[-1].split("::")[-1]


def missing_call_graphs(build_dir):
    """Firmware objects without the call graph their compile should have
    written (a compiler cache that hit, for one): their functions would look
    like code compiled elsewhere, and the report would come out too low."""
    missing = []
    for obj in sorted(pathlib.Path(build_dir).glob("CMakeFiles/fw_*.dir/**/*.obj")):
        if not obj.with_suffix(".ci").exists():
            missing.append(str(obj.relative_to(build_dir)))
    return missing


def load(build_dir):
    frames = {}  # title -> (bytes, qualifier) for functions compiled here
    names = {}  # title -> short name
    edges = {}  # title -> [callee title or '__indirect_call']
    for ci in sorted(pathlib.Path(build_dir).rglob("*.ci")):
        for line in ci.read_text().splitlines():
            m = NODE.match(line)
            if m:
                title, label = m.group(1), m.group(2)
                # C names are their own symbol; C++ ones read better demangled.
                names.setdefault(title, short_name(label) if "_Z" in title else title)
                f = FRAME.search(label)
                if f:
                    frames[title] = (int(f.group(1)), f.group(2))
                continue
            m = EDGE.match(line)
            if m:
                edges.setdefault(m.group(1), []).append(m.group(2))
    return frames, names, edges


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--stack", type=int, help="thread stack size in bytes (default: the thread table's)")
    ap.add_argument("--measured", help="log of the emulated test image")
    ap.add_argument("build_dir")
    args = ap.parse_args()

    missing = missing_call_graphs(args.build_dir)
    if missing:
        sys.exit("stack-report: no call graph (.ci) for " + ", ".join(missing)
                 + "; rebuild these objects without a compiler cache")
    frames, names, edges = load(args.build_dir)
    runtime, passes, calls = load_measured(args.measured) if args.measured else ({}, {}, {})
    if not frames:
        sys.exit(f"stack-report: no .ci files under {args.build_dir} (built with -fcallgraph-info=su?)")
    by_name = {}
    for title in frames:
        by_name.setdefault(names[title], title)

    def resolve_indirect(caller):
        name = names.get(caller, caller)
        m = re.fullmatch(r"(\w+)_if_(\w+)", name)
        if m:
            target = by_name.get(f"hal_{m.group(1)}_{m.group(2)}")
            return [target] if target else []
        if name.startswith("Wit"):
            return [by_name[n] for n in JY901_CALLBACKS if n in by_name]
        return []

    memo = {}

    def worst(title, active):
        """(bytes, path, unseen calls, dynamic frames, recursion) below title."""
        if title in memo:
            return memo[title]
        own, qual = frames[title]
        best = (0, [], set(), set(), False)
        unseen, dynamic, recursive = set(), set(), False
        if qual != "static":
            dynamic.add(names[title])
        for callee in edges.get(title, []):
            targets = [callee]
            if callee == "__indirect_call":
                targets = resolve_indirect(title)
                if not targets:
                    unseen.add(f"indirect call in {names[title]}")
            for t in targets:
                if t in runtime:
                    # A measured leaf: this caller's own formats, else the worst of all.
                    cost = calls.get((names[title], t))
                    label = f"{t} [{cost} measured]" if cost else f"{t} [{runtime[t]}, worst measured]"
                    unseen.add(f"{RUNTIME_BELOW[t]} (in {t}, beyond the stand-in)")
                    if (cost or runtime[t]) > best[0]:
                        best = (cost or runtime[t], [label], set(), set(), False)
                    continue
                if t not in frames:
                    unseen.add(names.get(t, t))
                    continue
                if t in active:
                    recursive = True
                    continue
                sub = worst(t, active | {t})
                unseen |= sub[2]
                dynamic |= sub[3]
                recursive |= sub[4]
                if sub[0] > best[0]:
                    best = sub
        result = (own + best[0], [names[title]] + best[1], unseen, dynamic, recursive)
        memo[title] = result
        return result

    source = "GCC -fstack-usage, -fcallgraph-info=su"
    if runtime:
        source += "; runtime library measured on an emulated Cortex-M4"
    print(f"== worst-case stack per thread entry ({source})")
    over = False
    sizes = stack_sizes()
    for entry, body, attributes in ENTRIES:
        is_thread = attributes is not None
        stack = args.stack or sizes.get(attributes, 1024) if is_thread else 0
        title = by_name.get(entry)
        if title is None:
            print(f"{entry}: not found in the call graph")
            over = True
            continue
        used, path, unseen, dynamic, recursive = worst(title, frozenset({title}))
        where = f"of the {stack}-byte thread stack" if is_thread else "on the main stack"
        print(f"{entry} ({body}): {used} bytes {where}, deepest path:")
        print("    " + " -> ".join(path))
        if dynamic:
            print("    dynamic frames: " + ", ".join(sorted(dynamic)))
        if recursive:
            print("    recursion: the figure covers one pass only")
        print("    plus what these use (not compiled here): " + (", ".join(sorted(unseen)) or "none"))
        if not is_thread:
            continue
        worst_use = used
        if body in passes:
            # The pass was measured from the call of the body: add the entry's frame.
            measured = passes[body] + frames[title][0]
            print(f"    measured: one pass of {body} in the emulator (HAL and kernel stood in), "
                  f"with {entry}'s frame: {measured} bytes")
            worst_use = max(used, measured)
        switch = EXCEPTION_FRAME + SWITCH_FRAME
        left = stack - worst_use - switch
        print(f"    switched out at its deepest: exception frame with FPU state {EXCEPTION_FRAME} "
              f"+ context switch {SWITCH_FRAME} = {switch} bytes")
        print(f"    left of {stack}: {stack} - {worst_use} - {switch} = {left} bytes"
              + (", for the calls named above" if unseen else ""))
        if left <= 0:
            print(f"    OVERFLOW: {entry} can run past its stack")
            over = True
    return 1 if over else 0


if __name__ == "__main__":
    sys.exit(main())
