#!/bin/bash
# The real program on a virtual X display, in an empty working directory, without
# a web camera: it must show the "Error Message" box, exit with code 0 once the box
# is confirmed with Return, and leave "output" behind. Then with a looping movie as
# the camera: r records, SIGTERM saves the recording and ends with code 0. Every
# wait is bounded.
set -u
[ $# -eq 1 ] && [ -x "$1" ] || { echo "usage: $0 <kestrova executable>" >&2; exit 2; }
program=$(readlink -f "$1")
workdir=$(mktemp -d)
trap 'rm -rf "$workdir"' EXIT
cd "$workdir" || exit 1
cat > under_xvfb.sh <<'INNER'
set -u
unset QT_QPA_PLATFORM # the display xvfb-run gives us, whatever the caller set
"$1" > program.log 2>&1 &
pid=$!
fail() { echo "FAIL: $*"; kill "$pid" 2> /dev/null; cat program.log; exit 1; }
box() { xdotool search --name '^Error Message$' 2> /dev/null | head -n 1; }
running() { kill -0 "$pid" 2> /dev/null; }
for _ in $(seq 600); do # 60 s; the box comes after the 3 s camera wait
    win=$(box) && [ -n "$win" ] && break
    running || fail "the program ended before the error box appeared"
    sleep 0.1
done
[ -n "$win" ] || fail "no window titled \"Error Message\" within 60 s"
for _ in $(seq 20); do # no window manager here: the box gets the focus from us
    timeout 5 xdotool windowfocus --sync "$win" key --clearmodifiers Return 2> /dev/null
    sleep 0.5 && [ -z "$(box)" ] && break
done
[ -z "$(box)" ] || fail "the error box did not close on Return"
for _ in $(seq 600); do running && sleep 0.1 || break; done
running && fail "the program still runs 60 s after the box was confirmed"
wait "$pid" || fail "exit code $?, expected 0"

ffmpeg -v error -f lavfi -i testsrc=size=320x240:rate=25 -t 3 -c:v mjpeg movie.avi ||
    { echo "FAIL: ffmpeg could not make the movie"; exit 1; }
# SIGTERM saves the recording through the normal close; after SIGKILL the
# frames written more than a second before still play.
for sig in TERM KILL; do
"$1" --camera movie.avi --loop > program.log 2>&1 &
pid=$!
for _ in $(seq 300); do # 30 s
    win=$(xdotool search --onlyvisible --pid "$pid" 2> /dev/null | head -n 1)
    [ -n "$win" ] && break
    running || fail "the program with the movie ended at once"
    sleep 0.1
done
[ -n "$win" ] || fail "no window of the program with the movie within 30 s"
sleep 1
before=$(ls output | wc -l)
xdotool key --window "$win" r
for _ in $(seq 50); do [ "$(ls output | wc -l)" -gt "$before" ] && break; sleep 0.1; done
[ "$(ls output | wc -l)" -gt "$before" ] || fail "r started no recording"
sleep 2
kill -"$sig" "$pid"
for _ in $(seq 300); do running && sleep 0.1 || break; done
running && fail "the program still runs 30 s after SIG$sig"
wait "$pid"
status=$?
[ "$sig" = KILL ] || [ "$status" -eq 0 ] || fail "exit code $status after SIGTERM, expected 0"
done
for f in output/*.avi; do
    frames=$(ffprobe -v error -count_frames -select_streams v:0 \
        -show_entries stream=nb_read_frames -of csv=p=0 "$f")
    [ "${frames:-0}" -gt 10 ] || fail "$f holds ${frames:-no} frames, expected more than 10"
done
INNER
# A random first display keeps runs started at the same moment apart.
timeout -k 5 180 xvfb-run -a -n $((100 + RANDOM % 800)) bash ./under_xvfb.sh "$program" ||
    { echo "FAIL: the run under xvfb-run failed"; exit 1; }
[ -d output ] || { echo "FAIL: the program did not create output/"; exit 1; }
echo "PASS"
