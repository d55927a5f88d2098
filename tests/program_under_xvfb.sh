#!/bin/bash
# Starts the real program on a virtual X display in an empty working directory
# on a machine without a web camera. The program must show the "Error Message"
# box, end with exit code 0 once the box is confirmed with Return, and leave the
# directory "output" behind. Every wait is bounded, so a hanging program fails
# the test instead of blocking it.
#
# Usage: program_without_camera.sh <path to the kestrova executable>
set -u

if [ $# -ne 1 ] || [ ! -x "$1" ]; then
    echo "usage: $0 <kestrova executable>" >&2
    exit 2
fi
program=$(readlink -f "$1")
workdir=$(mktemp -d)
trap 'rm -rf "$workdir"' EXIT
cd "$workdir" || exit 1

# The part that needs the display runs inside xvfb-run.
cat > under_xvfb.sh <<'EOF'
#!/bin/bash
set -u
program=$1
limit=600 # tenths of a second: 60 s for every wait

# Qt must use the X display xvfb-run gives us, whatever the caller set.
unset QT_QPA_PLATFORM
"$program" > program.log 2>&1 &
pid=$!

fail() {
    echo "FAIL: $*"
    kill "$pid" 2> /dev/null
    echo "--- program output ---"
    cat program.log
    exit 1
}

# The box comes after the 3 s camera wait.
win=""
for _ in $(seq "$limit"); do
    win=$(xdotool search --name '^Error Message$' 2> /dev/null | head -n 1)
    [ -n "$win" ] && break
    kill -0 "$pid" 2> /dev/null || fail "the program ended before the error box appeared"
    sleep 0.1
done
[ -n "$win" ] || fail "no window titled \"Error Message\" within 60 s"

# There is no window manager on the virtual display; give the box the
# keyboard focus ourselves and press Return on it.
confirmed=0
for _ in $(seq 20); do
    xdotool windowfocus --sync "$win" 2> /dev/null
    xdotool key --clearmodifiers Return 2> /dev/null
    for _ in $(seq 10); do
        if ! xdotool search --name '^Error Message$' > /dev/null 2>&1; then
            confirmed=1
            break 2
        fi
        sleep 0.1
    done
done
[ "$confirmed" = 1 ] || fail "the error box did not close on Return"

ended=0
for _ in $(seq "$limit"); do
    if ! kill -0 "$pid" 2> /dev/null; then
        ended=1
        break
    fi
    sleep 0.1
done
[ "$ended" = 1 ] || fail "the program still runs 60 s after the box was confirmed"
wait "$pid"
rc=$?
[ "$rc" -eq 0 ] || fail "exit code $rc, expected 0"

# The start-up trace: camera, then its (empty) first frame, then the
# re-encoder probe, in this order.
trace=$(grep -E '^(cap opened|camera_frame: |ffmpegFlag = )' program.log | tr '\n' '|')
[ "$trace" = "cap opened|camera_frame: 0, 0|ffmpegFlag = 0|" ] ||
    fail "unexpected start-up trace: $trace"
exit 0
EOF

timeout 180 xvfb-run -a bash ./under_xvfb.sh "$program"
rc=$?
if [ "$rc" -ne 0 ]; then
    echo "FAIL: the run under xvfb-run failed (code $rc)"
    exit 1
fi
if [ ! -d output ]; then
    echo "FAIL: the program did not create output/ in its working directory"
    exit 1
fi
echo "PASS"
exit 0
