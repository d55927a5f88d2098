#!/bin/bash
# shellcheck disable=SC1091,SC2154 # movie.sh, written by lift_movie_tool, sets the movie's numbers
# The real program on a virtual X display with a movie as its camera, used as a user
# would: drag over the plate, Apply, drag around the target, Apply, R, wait, R, Q. The
# recording, re-encoded by ffmpeg, must show the magenta trail within 2 px of the
# path the target takes in the movie (lift_movie_tool writes the movie and checks
# the recording). Every wait is bounded.
set -u
[ $# -eq 2 ] && [ -x "$1" ] && [ -x "$2" ] ||
    { echo "usage: $0 <kestrova executable> <lift_movie_tool executable>" >&2; exit 2; }
if [ -z "${TRAIL_UNDER_XVFB:-}" ]; then
    script=$(readlink -f "$0") program=$(readlink -f "$1") tool=$(readlink -f "$2")
    workdir=$(mktemp -d)
    trap 'rm -rf "$workdir"' EXIT
    cd "$workdir" || exit 1
    "$tool" write movie.avi > movie.sh || { echo "FAIL: the movie could not be written"; exit 1; }
    # A random first display keeps runs started at the same moment apart; the screen
    # has room for the window with a 640 x 480 picture.
    TRAIL_UNDER_XVFB=1 timeout -k 5 150 xvfb-run -a -n $((100 + RANDOM % 800)) \
        -s "-screen 0 1280x1024x24" "$script" "$program" "$tool" ||
        { echo "FAIL: the run under xvfb-run failed"; exit 1; }
    shopt -s nullglob
    recordings=(output/*.avi)
    [ ${#recordings[@]} -eq 1 ] ||
        { echo "FAIL: output/ holds ${#recordings[@]} movies, expected 1"; exit 1; }
    exec "$tool" check "${recordings[0]}"
fi

# From here on under xvfb-run, in the working directory.
unset QT_QPA_PLATFORM # the display xvfb-run gives us, whatever the caller set
. ./movie.sh # frame_w, frame_h, plate, target, rest_ms, loop_ms
# Recordings are re-encoded, as for a user who linked ffmpeg into the working directory.
ln -s "$(command -v ffmpeg)" ffmpeg || { echo "FAIL: no ffmpeg to link"; exit 1; }
"$1" --camera movie.avi --loop > program.log 2>&1 &
pid=$!
fail() { echo "FAIL: $*"; kill "$pid" 2> /dev/null; echo "--- program log (end)"; tail -n 200 program.log; exit 1; }
running() { kill -0 "$pid" 2> /dev/null; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }
count() { grep -c -- "$1" program.log; }
# The line after the last one holding $1.
after() { grep -A1 -- "$1" program.log | tail -n 1; }
# Waits up to $3 tenths of a second for more than $2 lines holding $1.
await() { for _ in $(seq "$3"); do [ "$(count "$1")" -gt "$2" ] && return 0; sleep 0.1; done; return 1; }

# The movie's clock starts at the camera's first read, which this line follows.
for _ in $(seq 1500); do # 30 s
    grep -q '^camera_frame:' program.log && break
    running || fail "the program ended at once"
    sleep 0.02
done
movie_start=$(now_ms)
grep -q '^camera_frame: [1-9]' program.log || fail "no picture from the movie within 30 s"
win=$(timeout 30 xdotool search --sync --onlyvisible --pid "$pid" | head -n 1)
[ -n "$win" ] || fail "no window within 30 s"
sleep 0.5 # laid out and painted
eval "$(xdotool getwindowgeometry --shell "$win")" # X, Y, WIDTH, HEIGHT of the window

# Where the live view's viewport lies on the screen, from the viewport point the view logs
# for a click (which selects nothing). A frame point is that plus the margin the program
# assumes around a centred picture in the view size it logged (support.cpp: viewPointFor);
# were the view scaled, the drags below would cut other rectangles than they ask for.
n=$(count 'MyGraphicsView::mousePressEvent')
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1
await 'MyGraphicsView::mousePressEvent' "$n" 50 || fail "a click at the window's centre reached no view"
read -r vx vy <<< "$(after 'MyGraphicsView::mousePressEvent' | awk -F '[{.,]' '{ print $2, $4 }')"
read -r view_w view_h <<< "$(after 'MainWindow::resizeEvent' | tr -d 'wh=,')"
[ -n "${view_h:-}" ] || fail "the program logged no view size"
# The screen point over frame pixel 0,0; -((a - b) >> 1) is (b - a) / 2 rounded up.
left=$((X + WIDTH / 2 - vx - ((frame_w - view_w) >> 1)))
top=$((Y + HEIGHT / 2 - vy - ((frame_h - view_h) >> 1)))

# A drag over frame rectangle x y w h in small steps; the program must cut exactly it.
drag() {
    local x0=$((left + $1)) y0=$((top + $2)) dx=$3 dy=$4 i moves=() n
    for i in 1 2 3 4 5 6 7 8; do
        moves+=(sleep 0.02 mousemove $((x0 + dx * i / 8)) $((y0 + dy * i / 8)))
    done
    n=$(count 'MainWindow::saveSelectedRange')
    xdotool mousemove "$x0" "$y0" mousedown 1 "${moves[@]}" sleep 0.05 mouseup 1
    await 'MainWindow::saveSelectedRange' "$n" 50 || fail "the drag over $* ended no selection"
    [ "$(after 'MainWindow::saveSelectedRange')" = "  offset_: $1, $2, $3, $4" ] ||
        fail "the drag over $* cut $(after 'MainWindow::saveSelectedRange')"
}
# Apply is the middle one of the three 60 px buttons at the right end of the bottom bar,
# the last 30 px of the window, which is sized to what its widgets ask for.
apply() {
    local n x=$((X + WIDTH - 96)) y=$((Y + HEIGHT - 15))
    n=$(count '^applyButtonPressed')
    xdotool mousemove "$x" "$y" click 1
    await '^applyButtonPressed' "$n" 100 ||
        fail "a click at $x,$y (window $X,$Y ${WIDTH}x$HEIGHT) pressed no Apply"
}

drag "${plate[@]}"
apply
# The template is cut from the picture shown when the button is released, so the drag
# must end while the target rests: before the lift of a pass of the movie, with a
# margin that grows as each pass may start a tick late.
for attempt in 1 2 3; do
    for _ in $(seq 200); do # at most 20 s, two passes
        before=$(($(now_ms) - movie_start))
        margin=$((300 + 100 * (before / loop_ms + 1)))
        phase=$((before % loop_ms))
        [ "$phase" -ge "$margin" ] && [ $((phase + 1000)) -le $((rest_ms - margin)) ] && break
        sleep 0.1
    done
    drag "${target[@]}"
    released=$(($(now_ms) - movie_start))
    [ $((before / loop_ms)) -eq $((released / loop_ms)) ] &&
        [ $((released % loop_ms)) -lt $((rest_ms - margin)) ] &&
        echo "target dragged from $phase to $((released % loop_ms)) ms into a pass" && break
    [ "$attempt" -lt 3 ] || fail "the target could not be dragged while it was at rest"
done
apply

# One pass of the movie and a second more: the recording holds a whole lift.
xdotool key --window "$win" r
await 'rec:1' 0 50 || fail "r started no recording"
sleep $((loop_ms / 1000 + 1))
xdotool key --window "$win" r
await 'removed output/\|re-encode failed' 0 600 || # the encoders and ffmpeg
    fail "the recording was not re-encoded within 60 s"
grep -q 're-encode failed' program.log && fail "ffmpeg could not re-encode the recording"
xdotool key --window "$win" q 2> /dev/null # the window is gone before the key is up
for _ in $(seq 300); do running && sleep 0.1 || break; done
running && fail "the program still runs 30 s after q"
wait "$pid" || fail "exit code $?, expected 0"
