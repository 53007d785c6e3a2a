#!/bin/sh
# The host build and the ARM image, run on the same scenarios, end alike,
# print the same console, send the same CAN frames in the same order and
# make the same I2C transactions byte for byte (tools/compare-runs, which
# prints each stream's largest shift in time: docs/design.md, "Differential
# runs").
#   differential_test.sh GIMBAL_ARM IMAGE GIMBAL_SIM COMPARE_RUNS DIR SCENARIO:SECONDS...
# (SCENARIO "builtin": no scenario file, gimbal-sim's own default)
# (what-if-gains.json: the motors move on their first commands and do not
# answer; until the plant has moved, by 5.2 s, both images step the gains it
# sets alike)
set -eu
arm=$1 image=$2 host=$3 compare=$4 dir=$5
shift 5
rm -rf "$dir" && mkdir -p "$dir"
for run in "$@"; do
    scenario=${run%:*} seconds=${run##*:} name=$(basename "${run%:*}" .json)
    a=0 b=0
    [ "$scenario" = builtin ] && set -- || set -- --scenario "$scenario"
    "$host" "$@" --duration "$seconds" --quiet --no-plot --out "$dir/$name-host" >/dev/null || a=$?
    "$arm" "$image" "$@" --duration "$seconds" --quiet --no-plot --out "$dir/$name-arm" 2>"$dir/$name-arm.txt" || b=$?
    [ "$a" -eq "$b" ] || { echo "$name: the host build ended with $a, the ARM image with $b"; exit 1; }
    echo "$name, $seconds s:" && "$compare" "$dir/$name-host" "$dir/$name-arm"
done
