#!/usr/bin/env bash
# The default run's timeline.json as an independent reader of the Chrome trace
# event format sees it: speedscope in headless chromium imports a track for
# each context and each interrupt that ran. A windowed run's file still opens.
set -euo pipefail
sim="$1"
view="$(dirname "$0")/../../tools/timeline-view/view"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
"$sim" --quiet --lean --out "$out/full" >/dev/null
"$sim" --quiet --lean --duration 6 --window 5.5:5.6 --out "$out/window" >/dev/null
"$view" "$out/full/timeline.json" > "$out/tracks"
for track in start-up idle monitorTask controlTask sensorTask SysTick PendSV TIM1_UP_TIM10 I2C; do
    grep -q "$track" "$out/tracks" || { echo "no track $track in:"; cat "$out/tracks"; exit 1; }
done
"$view" "$out/window/timeline.json" | grep -q sensorTask
echo "1 passed, 0 failed"
