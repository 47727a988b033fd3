#!/bin/sh
# Presses Action2 in the real program's window on a virtual X display and
# checks that a terminal watching KDSChannel prints "reset"; then ends the
# program with SIGTERM (which closes the window, as the operator does) while
# the terminal is still subscribed, and checks that it exits with status 0.
#
#   scripts/action2-under-x.sh [BUILD-DIR]      (build by default)
#
# Needs Xvfb and xdotool, and port 16000 free on this machine (the program's
# port is fixed). The program runs from a copy in a temporary folder, so its
# KDS/Before and KDS/AFTER folders are made there. Everything it starts is
# stopped again on every way out. Exit status 0 when every check passed.
set -u

BUILD=${1:-build}
XDISPLAY=${KDS_XDISPLAY:-:97}
WORK=$(mktemp -d)
X_PID=
SV_PID=
WATCH_PID=

cleanup() {
    for P in $WATCH_PID $SV_PID $X_PID; do
        kill "$P" 2>/dev/null
    done
    for P in $WATCH_PID $SV_PID $X_PID; do
        wait "$P" 2>/dev/null
    done
    rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
    echo "action2-under-x: $*" >&2
    for F in "$WORK"/*.log "$WORK"/watch.*; do
        [ -f "$F" ] && { echo "--- $F" >&2; cat "$F" >&2; }
    done
    exit 1
}

# Polls "$@" every 0.1 s, at most 10 s.
within_10s() {
    I=0
    while ! "$@" >/dev/null 2>&1; do
        I=$((I + 1))
        [ "$I" -ge 100 ] && return 1
        sleep 0.1
    done
}

[ -x "$BUILD/kdssv" ] && [ -x "$BUILD/kdsterm" ] || fail "build kdssv and kdsterm in $BUILD first"
command -v Xvfb >/dev/null && command -v xdotool >/dev/null || fail "Xvfb and xdotool are needed"
if "$BUILD/kdsterm" --timeout 1 probe >/dev/null 2>&1; then
    fail "something already answers on port 16000"
fi

cp "$BUILD/kdssv" "$WORK/"
Xvfb "$XDISPLAY" -screen 0 1920x1080x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
X_PID=$!
export DISPLAY="$XDISPLAY"
within_10s xdotool getdisplaygeometry || fail "Xvfb did not start on $XDISPLAY"

"$WORK/kdssv" >"$WORK/kdssv.log" 2>&1 &
SV_PID=$!
within_10s "$BUILD/kdsterm" --timeout 1 probe || fail "kdssv does not answer on port 16000"

"$BUILD/kdsterm" watch --id x11-watch >"$WORK/watch.out" 2>"$WORK/watch.err" &
WATCH_PID=$!
within_10s grep -q "watching KDSChannel" "$WORK/watch.err" || fail "kdsterm watch did not subscribe"
# The subscription call is on its way; give the server a moment to take it.
sleep 0.5

WINDOW=$(xdotool search --name '^Form1$' | head -n 1)
[ -n "$WINDOW" ] || fail "no Form1 window on $XDISPLAY"
# The command strip is the window's left 80 pixels; its buttons are 50 high
# below a 1-pixel border: Action1, Action2, Action3.
xdotool mousemove --window "$WINDOW" 40 76 click 1
within_10s grep -qx reset "$WORK/watch.out" || fail "no reset reached kdsterm watch"
echo "kdsterm watch printed: $(cat "$WORK/watch.out")"

# SIGTERM closes the window; the program must exit while a terminal is
# still subscribed.
kill -TERM "$SV_PID"
I=0
while kill -0 "$SV_PID" 2>/dev/null; do
    I=$((I + 1))
    [ "$I" -ge 50 ] && fail "kdssv did not exit within 5 s of SIGTERM"
    sleep 0.1
done
wait "$SV_PID"
STATUS=$?
SV_PID=
[ "$STATUS" -eq 0 ] || fail "kdssv exited with status $STATUS"
echo "kdssv exited with status 0 with a subscriber attached"
echo "action2-under-x: passed"
