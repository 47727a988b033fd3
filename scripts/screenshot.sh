#!/usr/bin/env bash
# Makes docs/screenshot.png, the README's picture: the operator's window with
# the sample orders taken in and the first order's lines shown.
#
# It builds the program (build/, as `make run` does), copies it with the
# sample order files into a scratch program folder (so build/KDS stays as the
# tour expects it), starts it on a virtual screen, presses Action1, selects
# the first header and photographs the window.
#
# Installs nothing. Needs, from Debian: xvfb (Xvfb), xdotool, imagemagick
# (import), beside the build's own packages (`make deps`) and a font
# (fonts-dejavu-core, also in `make deps`).
#
# Usage: scripts/screenshot.sh [OUTPUT.png]   (default docs/screenshot.png)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=${1:-$ROOT/docs/screenshot.png}
BUILD=${BUILD:-$ROOT/build}

missing=()
for tool in Xvfb:xvfb xdotool:xdotool import:imagemagick cmake:cmake; do
    command -v "${tool%%:*}" >/dev/null || missing+=("${tool#*:}")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "screenshot.sh needs: ${missing[*]}" >&2
    echo "  apt-get install ${missing[*]}" >&2
    exit 1
fi

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$BUILD" --target kdssv

SCRATCH=$(mktemp -d /tmp/kdssv-screenshot.XXXXXX)
XVFB_PID=
APP_PID=
cleanup() {
    [ -z "$APP_PID" ] || kill "$APP_PID" 2>/dev/null || true
    [ -z "$XVFB_PID" ] || kill "$XVFB_PID" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$SCRATCH"
}
trap cleanup EXIT

# The program looks for KDS/Before and KDS/AFTER beside its own file.
PROGRAM_DIR=$SCRATCH/program
mkdir -p "$PROGRAM_DIR/KDS/Before" "$PROGRAM_DIR/KDS/AFTER" "$SCRATCH/runtime"
chmod 700 "$SCRATCH/runtime"
cp "$BUILD/kdssv" "$PROGRAM_DIR/"
cp "$ROOT"/samples/orders/*.xml "$PROGRAM_DIR/KDS/Before/"

# A virtual screen on a free display number, told back through fd 3.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$SCRATCH/display" \
    >"$SCRATCH/xvfb.log" 2>&1 &
XVFB_PID=$!
for _ in $(seq 100); do
    [ -s "$SCRATCH/display" ] && break
    sleep 0.1
done
[ -s "$SCRATCH/display" ] || { cat "$SCRATCH/xvfb.log" >&2; echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(cat "$SCRATCH/display")
export XDG_RUNTIME_DIR=$SCRATCH/runtime

# Quantities of the samples are written with a decimal point.
LC_ALL=C.UTF-8 "$PROGRAM_DIR/kdssv" >"$SCRATCH/kdssv.log" 2>&1 &
APP_PID=$!
WINDOW=$(timeout 30 xdotool search --sync --onlyvisible --name '^Form1$' | head -1)
[ -n "$WINDOW" ] || { cat "$SCRATCH/kdssv.log" >&2; echo "no window" >&2; exit 1; }
sleep 1

# Action1 is the first button of the command strip (80 pixels wide, buttons
# 50 high); the intake is done when only the unfinished sample is left.
xdotool mousemove --window "$WINDOW" 40 25 click 1
for _ in $(seq 100); do
    [ "$(ls "$PROGRAM_DIR/KDS/Before")" = "order-1005.xml" ] && break
    sleep 0.1
done
if [ "$(ls "$PROGRAM_DIR/KDS/Before")" != "order-1005.xml" ]; then
    echo "Action1 did not take the samples in; KDS/Before holds:" >&2
    ls "$PROGRAM_DIR/KDS/Before" >&2
    exit 1
fi

# The first header row of gridTA (below the panel's caption and the titles),
# so that gridTB shows the four lines of table 4's order.
xdotool mousemove --window "$WINDOW" 400 52 click 1
sleep 1

mkdir -p "$(dirname "$OUT")"
import -window "$WINDOW" -strip "png:$OUT"
echo "wrote $OUT"
