#!/usr/bin/env python3
"""Checks of the chip build, run by the stm32f407 preset's `target-checks`.

  checks.py api NM OBJECT LIST        undefined symbols of the relocatable
                                      firmware object == first column of LIST
  checks.py standins LIST OUT.c       stand-in platform: a stub for every
                                      hal, hal-data and rtos symbol of LIST
  checks.py bridges LIST BRIDGES.def  every hal, hal-data and rtos symbol of
                                      LIST has one bridge of the virtual
                                      board's image, numbers unique
  checks.py footprint SIZE NAME=LIB.a ...
                                      flash and static RAM per layer
  checks.py image TOOLPREFIX IMAGE.elf
                                      vector table, memory layout and reserves
  checks.py nofma OBJDUMP PROBE.o OBJECT_OR_ARCHIVE ...
                                      no fused multiply-add in the firmware;
                                      PROBE.o (contracted on purpose) must have one
  checks.py newlib NM FULL.o MODEL.hpp PROBE.o ... IMAGE.elf ...
                                      struct _reent as each PROBE.o was compiled
                                      == as the libc linked into each IMAGE.elf
                                      was built (its impure_data) == the virtual
                                      board's kReentBytes in MODEL.hpp; FULL.o
                                      (full headers on purpose) must differ
"""

import difflib
import re
import subprocess
import sys
import tempfile

FLASH = (0x08000000, 0x08100000)
SRAM = (0x20000000, 0x20020000)
VECTOR_WORDS = 98
ESTACK = 0x20020000
MIN_HEAP = 0x200
MIN_STACK = 0x400
# Vector index (16 + IRQ number) -> the firmware's own handler there.
OWN_VECTORS = {1: "Reset_Handler", 41: "TIM1_UP_TIM10_IRQHandler", 49: "I2C2_EV_IRQHandler"}
# The F407 has no CRYP: its interrupt 79 (vector 95) is reserved.
RESERVED_VECTORS = (7, 8, 9, 10, 13, 95)


def run(*cmd):
    return subprocess.run(cmd, check=True, capture_output=True, text=True).stdout


def read_list(path):
    entries = []
    for line in open(path):
        line = line.split("#", 1)[0].split()
        if line:
            entries.append((line[0], line[1] if len(line) > 1 else ""))
    return entries


def cmd_api(nm, obj, list_path):
    have = sorted(line.split()[-1] for line in run(nm, "-u", obj).splitlines() if line.strip())
    want = sorted(name for name, _ in read_list(list_path))
    if have == want:
        print(f"platform API: {len(have)} symbols, as listed in {list_path}")
        return 0
    print(f"platform API check FAILED: the firmware's undefined symbols differ from {list_path}")
    print("('-' listed but no longer used, '+' used but not listed)")
    sys.stdout.writelines(
        difflib.unified_diff([s + "\n" for s in want], [s + "\n" for s in have], list_path, "firmware", n=0))
    return 1


def cmd_standins(list_path, out):
    lines = ["/* Generated from the platform API list: stand-ins for the image check. */"]
    for name, provider in read_list(list_path):
        if provider in ("hal", "rtos"):
            lines.append(f"int {name}(void) {{ return 0; }}")
        elif provider == "hal-data":
            lines.append(f"unsigned {name};")
    open(out, "w").write("\n".join(lines) + "\n")
    return 0


BRIDGE = re.compile(r"^GIMBAL_BRIDGE\((\d+),\s*(\w+)\)|^GIMBAL_BRIDGE_DATA\(\w+,\s*(\w+),")


def cmd_bridges(list_path, def_path):
    numbers, names = [], []
    for line in open(def_path):
        m = BRIDGE.match(line.strip())
        if m:
            if m.group(1):
                numbers.append(int(m.group(1)))
            names.append(m.group(2) or m.group(3))
    want = {name for name, provider in read_list(list_path) if provider in ("hal", "hal-data", "rtos")}
    errors = [f"{n}: in {list_path}, no bridge in {def_path}" for n in sorted(want - set(names))]
    errors += [f"{n}: a bridge, but not a hal, hal-data or rtos symbol of {list_path}"
               for n in sorted(set(names) - want)]
    errors += [f"{n}: more than one bridge" for n in sorted({n for n in names if names.count(n) > 1})]
    errors += [f"bridge number {n} used twice" for n in sorted({n for n in numbers if numbers.count(n) > 1})]
    for e in errors:
        print("bridges check FAILED: " + e)
    if errors:
        return 1
    print(f"bridges: {len(names)} symbols of {list_path} served through {def_path}")
    return 0


def cmd_footprint(size, layers):
    print("== footprint per layer (bytes; every object counted, before the final link drops unused code)")
    print(f"{'layer':<16}{'flash':>8}{'RAM':>8}   (text, data, bss)")
    total = [0, 0, 0]
    for item in layers:
        name, lib = item.split("=", 1)
        text = data = bss = 0
        for line in run(size, "-B", lib).splitlines()[1:]:
            f = line.split()
            text, data, bss = text + int(f[0]), data + int(f[1]), bss + int(f[2])
        total = [total[0] + text, total[1] + data, total[2] + bss]
        print(f"{name:<16}{text + data:>8}{data + bss:>8}   ({text}, {data}, {bss})")
    print(f"{'all':<16}{total[0] + total[1]:>8}{total[1] + total[2]:>8}   ({total[0]}, {total[1]}, {total[2]})")
    return 0


def sections(prefix, elf):
    """name -> (vma, lma, size) from objdump -h."""
    out = {}
    for line in run(prefix + "objdump", "-h", elf).splitlines():
        f = line.split()
        if len(f) >= 7 and f[0].isdigit():
            out[f[1]] = (int(f[3], 16), int(f[4], 16), int(f[2], 16))
    return out


def symbols(prefix, elf):
    out = {}
    for line in run(prefix + "nm", elf).splitlines():
        f = line.split()
        if len(f) == 3:
            out.setdefault(f[2], int(f[0], 16))
    return out


def cmd_image(prefix, elf):
    errors = []

    def check(ok, what):
        print(("ok    " if ok else "FAIL  ") + what)
        if not ok:
            errors.append(what)

    secs = sections(prefix, elf)
    syms = symbols(prefix, elf)
    vt = secs.get(".isr_vector")
    check(vt is not None and vt[0] == FLASH[0] and vt[2] == VECTOR_WORDS * 4,
          f"vector table: {VECTOR_WORDS} words at 0x{FLASH[0]:08x}")
    if vt is None:
        return 1
    with tempfile.TemporaryDirectory() as tmp:
        run(prefix + "objcopy", "-O", "binary", "--only-section=.isr_vector", elf, tmp + "/vt.bin")
        raw = open(tmp + "/vt.bin", "rb").read()
    words = [int.from_bytes(raw[i:i + 4], "little") for i in range(0, len(raw), 4)]
    check(len(words) == VECTOR_WORDS and words[0] == ESTACK, f"initial stack pointer 0x{ESTACK:08x}")
    handlers = [i for i in range(1, len(words)) if i not in RESERVED_VECTORS]
    check(all(words[i] & 1 and FLASH[0] <= words[i] < FLASH[1] for i in handlers),
          "every handler address odd (Thumb) and in flash")
    check(len(words) == VECTOR_WORDS and all(words[i] == 0 for i in RESERVED_VECTORS), "reserved vectors 0")
    for index, name in OWN_VECTORS.items():
        check(name in syms and index < len(words) and words[index] == syms[name] | 1, f"vector {index}: {name}")

    data, bss = secs.get(".data"), secs.get(".bss")
    in_sram = lambda a, n: SRAM[0] <= a and a + n <= SRAM[1]
    check(data is not None and in_sram(data[0], data[2]), ".data in SRAM")
    check(data is not None and FLASH[0] <= data[1] < FLASH[1] and syms.get("_sidata") == data[1],
          ".data's load image in flash at _sidata")
    check(bss is not None and in_sram(bss[0], bss[2]), ".bss in SRAM")
    check(syms.get("_estack") == ESTACK, f"_estack 0x{ESTACK:08x}")
    heap, stack = syms.get("_Min_Heap_Size", 0), syms.get("_Min_Stack_Size", 0)
    check(heap >= MIN_HEAP and stack >= MIN_STACK,
          f"reserves: heap 0x{heap:x} >= 0x{MIN_HEAP:x}, stack 0x{stack:x} >= 0x{MIN_STACK:x}")
    free = ESTACK - syms.get("_end", ESTACK)
    check(free >= heap + stack, f"room above _end for them: 0x{free:x} bytes")
    return 1 if errors else 0


FUSED = re.compile(r"\bv(fma|fms|fnma|fnms)\.")


def fused_instructions(objdump, path):
    """[(function, instruction line)] of every fused multiply-add in path."""
    found, function = [], "?"
    for line in run(objdump, "-d", path).splitlines():
        m = re.match(r"^[0-9a-f]+ <(.+)>:$", line)
        if m:
            function = m.group(1)
        elif FUSED.search(line):
            found.append((function, line.split("\t", 2)[-1].strip()))
    return found


def cmd_nofma(objdump, probe, objects):
    if not fused_instructions(objdump, probe):
        print(f"no-FMA check FAILED: {probe}, compiled with contraction, shows no fused "
              "multiply-add: the check would not see one")
        return 1
    bad = [(path, f, i) for path in objects for f, i in fused_instructions(objdump, path)]
    for path, function, ins in bad:
        print(f"fused multiply-add in {path}: {function}: {ins}")
    if bad:
        print("no-FMA check FAILED: firmware compiled with contraction (needs -ffp-contract=off)")
        return 1
    print(f"no fused multiply-add in {len(objects)} firmware archives "
          "(the contracted control law has them)")
    return 0


def symbol_sizes(nm, path):
    """name -> size of every sized symbol in path (nm -S)."""
    out = {}
    for line in run(nm, "-S", path).splitlines():
        f = line.split()
        if len(f) == 4:
            out[f[3]] = int(f[1], 16)
    return out


def reent_size(nm, path):
    """Bytes of struct _reent in path: a probe's gimbal_reent_* record, or
    the linked runtime library's own (impure_data); None without either."""
    sizes = symbol_sizes(nm, path)
    for name in ("gimbal_reent_c", "gimbal_reent_cxx", "impure_data"):
        if name in sizes:
            return name, sizes[name]
    return None, None


def cmd_newlib(nm, full_probe, model, paths):
    errors = []
    m = re.search(r"kReentBytes\s*=\s*(\d+)", open(model).read())
    model_size = int(m.group(1)) if m else None
    _, full = reent_size(nm, full_probe)
    found = [(path,) + reent_size(nm, path) for path in paths]
    for path, name, size in found:
        if size is None:
            errors.append(f"{path}: neither a probe record nor the runtime library's impure_data")
    sizes = {size for _, _, size in found if size is not None}
    if len(sizes) > 1:
        errors.append("struct _reent differs between compiled and linked: "
                      + ", ".join(f"{p.rsplit('/', 1)[-1]} ({n}) {s}" for p, n, s in found))
    size = sizes.pop() if len(sizes) == 1 else None
    if size is not None and model_size != size:
        errors.append(f"{model}: kReentBytes {model_size}, the chip build's struct _reent {size}")
    if full is None or full == size:
        errors.append(f"{full_probe}, compiled with the full headers, has struct _reent {full}: "
                      "the check would not see a mismatch")
    for e in errors:
        print("newlib check FAILED: " + e)
    if errors:
        print("(compile and link with the same --specs; a build directory configured before "
              "the toolchain file changed keeps its old flags: cmake --fresh)")
        return 1
    linked = sum(1 for _, name, _ in found if name == "impure_data")
    print(f"newlib: struct _reent {size} bytes as compiled ({len(found) - linked} probes), as linked "
          f"({linked} images) and in the board's kernel model; {full} with the full headers")
    return 0


def main(argv):
    if len(argv) >= 4 and argv[0] == "api":
        return cmd_api(*argv[1:4])
    if len(argv) == 3 and argv[0] == "standins":
        return cmd_standins(*argv[1:])
    if len(argv) == 3 and argv[0] == "bridges":
        return cmd_bridges(*argv[1:])
    if len(argv) >= 2 and argv[0] == "footprint":
        return cmd_footprint(argv[1], argv[2:])
    if len(argv) >= 3 and argv[0] == "nofma":
        return cmd_nofma(argv[1], argv[2], argv[3:])
    if len(argv) >= 6 and argv[0] == "newlib":
        return cmd_newlib(argv[1], argv[2], argv[3], argv[4:])
    if len(argv) == 3 and argv[0] == "image":
        return cmd_image(*argv[1:])
    sys.exit(__doc__)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
