#!/bin/sh
# The ARM image boots to osKernelStart, and what it printed is, byte for
# byte, the start of the host build's console for the default scenario; its
# threads then run on the board, and the console of its first seconds is
# the host build's too, also through gimbal-sim --image arm, which hands
# on every option; a stack made too small halts the board naming the
# thread; gimbal-arm refuses what gimbal-sim refuses.
#   boot_test.sh GIMBAL_ARM IMAGE GIMBAL_SIM SCENARIO DIR
set -eu
rm -rf "$5" && mkdir -p "$5"
"$1" "$2" >"$5/arm.log"
"$3" --scenario "$4" --duration 4 --quiet --lean --out "$5/host" >/dev/null
size=$(wc -c <"$5/arm.log")
[ "$size" -gt 0 ] || { echo "the ARM image printed nothing before osKernelStart"; exit 1; }
cmp -n "$size" "$5/arm.log" "$5/host/console.log"
"$1" "$2" --scenario "$4" --duration 3 --quiet --no-plot --out "$5/run"
grep -q "sensor_task\] angle" "$5/run/console.log" || { echo "no IMU sample in 3 s"; exit 1; }
cmp -n "$(wc -c <"$5/run/console.log")" "$5/run/console.log" "$5/host/console.log"
grep -q '"stack_high_water_bytes"' "$5/run/summary.json" || { echo "no stack figures"; exit 1; }
status=0
"$1" "$2" --scenario "$4" --duration 1 --quiet --no-plot --stack sensorTask=256 --out "$5/small" || status=$?
[ "$status" -eq 3 ] || { echo "a 256-byte stack for sensorTask ended with $status, not 3"; exit 1; }
grep -q 'stack overflow: thread sensorTask (256 bytes)' "$5/small/summary.json"
"$3" --image arm "$2" --scenario "$4" --duration 3 --quiet --no-plot --out "$5/alias" 2>/dev/null
cmp "$5/alias/console.log" "$5/run/console.log"
if "$1" /dev/null 2>"$5/bad.txt"; then echo "a file that is not an image was run"; exit 1; fi
grep -q "not an ELF file" "$5/bad.txt"
"$3" --image arm "$2" --scenario "$4" --duration 3 --seed 7 --window 1:2 --no-vcd --no-plot --quiet --out "$5/opts" 2>/dev/null
[ ! -e "$5/opts/i2c.vcd" ] && grep -q '"seed": 7' "$5/opts/summary.json" || { echo "--no-vcd or --seed not handed on"; exit 1; }
awk -F, 'NR > 1 && ($1 < 1 || $1 >= 2) { print "trace row outside --window 1:2: " $0; exit 1 }' "$5/opts/trace.csv"
"$1" "$2" --scenario "$4" --duration 1 --lean --quiet --out "$5/lean" 2>/dev/null
[ "$(ls "$5/lean" | tr '\n' ' ')" = "console.log gimbal-sim.lock summary.json timeline.json " ] || { echo "--lean left $(ls "$5/lean")"; exit 1; }
for bad in "--speed 3" "--window 2:1" "--duration 1 5000" "--stack sensorTask"; do
    status=0 && "$1" "$2" $bad --quiet >/dev/null 2>&1 || status=$?
    [ "$status" -eq 2 ] || { echo "gimbal-arm $bad ended with $status, not 2"; exit 1; }
done
"$1" "$2" --scenario "$(dirname "$4")/stable-gains.json" --control 0 --check
