#!/bin/bash
# shellcheck disable=SC1091,SC2015,SC2154 # lift_movie_tool writes movie.sh; A && B || C is meant
# The real program on a virtual X display, in an empty working directory. Without a camera
# it shows the "Error Message" box, exits with 0 once that is confirmed and leaves output/.
# With the lift movie as a looping camera, used as a user would: drag over the plate, Apply,
# drag around the target, Apply, r, a pass, r; the recording, re-encoded by a linked ffmpeg,
# and its CSV must show the trail on the target's path. r and SIGTERM save a recording
# through the normal close (exit 0); one ended by SIGKILL still plays. Every wait is bounded.
set -u
[ $# -eq 2 ] && [ -x "$1" ] && [ -x "$2" ] ||
    { echo "usage: $0 <kestrova executable> <lift_movie_tool executable>" >&2; exit 2; }
if [ -z "${UNDER_XVFB:-}" ]; then
    set -- "$(readlink -f "$0")" "$(readlink -f "$1")" "$(readlink -f "$2")"
    cd "$(mktemp -d)" && trap 'rm -rf "$PWD"' EXIT || exit 1
    # A random first display keeps runs started at the same moment apart; the screen has
    # room for the window with a 640 x 480 picture.
    UNDER_XVFB=1 timeout -k 5 200 xvfb-run -a -n $((100 + RANDOM % 800)) \
        -s "-screen 0 1280x1024x24" "$@" && echo PASS && exit 0
    status=$? && echo "FAIL: the run under xvfb-run ended with $status"
    [ $status -ne 124 ] || tail -n 50 program.log; exit 1 # 124: it took 200 s
fi

unset QT_QPA_PLATFORM # the display xvfb-run gives us, whatever the caller set
program=$1 tool=$2
fail() {
    echo "FAIL: $*; program log (end):" && tail -n 100 program.log
    kill -KILL "$pid" 2> /dev/null; exit 1
}
start() { "$program" "$@" > program.log 2>&1 & pid=$!; }
running() { kill -0 "$pid" 2> /dev/null; }
count() { grep -c -- "$1" program.log || true; }
more() { [ "$(count "$1")" -gt "$2" ]; } # more than $2 lines hold $1
after() { grep -A1 -- "$1" program.log | tail -n 1; } # the line after the last holding $1
now_ms() { echo $(($(date +%s%N) / 1000000)); }
# Tries the command after $1 every 0.05 s for up to $1 s, while the program runs.
within() {
    local n=$(($1 * 20)) && shift
    for _ in $(seq "$n"); do "$@" && return 0; running && sleep 0.05 || return 1; done
    return 1
}
# Gives the program $2 s to end after $1; it must exit with ${3:-0}.
ends() {
    for _ in $(seq $(($2 * 10))); do running && sleep 0.1 || break; done
    running && fail "the program still runs $2 s after $1"
    wait "$pid" 2> /dev/null
    local status=$? && [ "$status" -eq "${3:-0}" ] || fail "exit $status after $1, not ${3:-0}"
}
# With the movie as the camera, whose clock starts at the first read the log line follows.
launch() {
    start --camera movie.avi --loop
    within 30 grep -q '^camera_frame:' program.log || fail "no camera within 30 s"
    movie_start=$(now_ms)
    win=$(timeout 30 xdotool search --sync --onlyvisible --pid "$pid" | head -n 1)
    [ -n "$win" ] && sleep 0.5 || fail "no window within 30 s" # then laid out and painted
}
record() {
    local n && n=$(count 'rec:1') && xdotool key --window "$win" r
    within 5 more 'rec:1' "$n" || fail "r started no recording"
}

box() { win=$(xdotool search --name '^Error Message$' 2> /dev/null | head -n 1) && [ -n "$win" ]; }
start
within 60 box || fail "no window titled \"Error Message\" within 60 s" # after a 3 s camera wait
for _ in $(seq 20); do # no window manager here: the box gets the focus from us
    timeout 5 xdotool windowfocus --sync "$win" key --clearmodifiers Return 2> /dev/null
    sleep 0.5 && ! box && break
done
! box || fail "the error box did not close on Return"
ends "the box was confirmed" 60
[ -d output ] || fail "the program did not create output/"

"$tool" write movie.avi > movie.sh && . ./movie.sh || fail "the movie could not be written"
ln -s "$(command -v ffmpeg)" ffmpeg || fail "no ffmpeg to link" # for the program to re-encode
launch
eval "$(xdotool getwindowgeometry --shell "$win")" # X, Y, WIDTH, HEIGHT of the window
# Where the live view's viewport lies on the screen, from the viewport point the view logs
# for a click (which selects nothing). A frame point is that plus the margin the program
# assumes around a centred picture in the view size it logged (support.cpp: viewPointFor);
# were the view scaled, the drags below would cut other rectangles than they ask for.
n=$(count 'mousePressEvent') && xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1
within 5 more 'mousePressEvent' "$n" || fail "a click reached no view"
read -r vx vy <<< "$(after 'mousePressEvent' | awk -F '[{.,]' '{print $2, $4}')"
read -r view_w view_h <<< "$(after 'MainWindow::resizeEvent' | tr -d 'wh=,')"
# The screen point over frame pixel 0,0; -((a - b) >> 1) is (b - a) / 2 rounded up.
left=$((X + WIDTH / 2 - vx - ((frame_w - view_w) >> 1)))
top=$((Y + HEIGHT / 2 - vy - ((frame_h - view_h) >> 1)))
# A drag over frame rectangle x y w h in small steps; the program must cut exactly it.
drag() {
    local x=$((left + $1)) y=$((top + $2)) i moves=() n && n=$(count 'saveSelectedRange')
    for i in 1 2 3 4 5 6 7 8; do
        moves+=(sleep 0.02 mousemove $((x + $3 * i / 8)) $((y + $4 * i / 8)))
    done
    xdotool mousemove "$x" "$y" mousedown 1 "${moves[@]}" sleep 0.05 mouseup 1
    within 5 more 'saveSelectedRange' "$n" || fail "the drag over $* ended no selection"
    [ "$(after 'saveSelectedRange')" = "  offset_: $1, $2, $3, $4" ] ||
        fail "the drag over $* cut $(after 'saveSelectedRange')"
}
# Apply is the middle one of the three 60 px buttons at the right end of the bottom bar,
# the last 30 px of the window, which is sized to what its widgets ask for.
apply() {
    local n && n=$(count '^applyButtonPressed')
    xdotool mousemove $((X + WIDTH - 96)) $((Y + HEIGHT - 15)) click 1
    within 10 more '^applyButtonPressed' "$n" || fail "no Apply at the bottom right"
}
# The template is cut from the picture shown when the button is released, so the drag must
# end while the target rests before the lift, with a margin that grows as each pass of the
# movie may start a tick late; a drag takes under $1 ms.
resting() {
    local t=$(($(now_ms) - movie_start)) m && m=$((300 + 100 * (t / loop_ms + 1)))
    [ $((t % loop_ms)) -ge $m ] && [ $((t % loop_ms + $1)) -le $((rest_ms - m)) ]
}
pass() { echo $((($(now_ms) - movie_start) / loop_ms)); }
drag "${plate[@]}" && apply
for attempt in 1 2 3; do
    within 20 resting 1000 || fail "the movie shows no rest within 20 s"
    n=$(pass) && drag "${target[@]}"
    resting 0 && [ "$(pass)" -eq "$n" ] && break
    [ "$attempt" -lt 3 ] || fail "the target could not be dragged while it was at rest"
done
apply
record && sleep $((loop_ms / 1000 + 1)) # a pass and a second more: a whole lift
xdotool key --window "$win" r
within 60 more 'removed output/\|re-encode failed' 0 || fail "no re-encode within 60 s"
grep -q 're-encode failed' program.log && fail "ffmpeg could not re-encode the recording"
"$tool" check output/*.avi || fail "the recording shows no trail where the target went"
record && sleep 2 && kill -TERM "$pid"
ends SIGTERM 60 # saved and re-encoded on the way
launch
record && sleep 2 && kill -KILL "$pid"
ends SIGKILL 30 137
recordings=(output/*.avi)
[ ${#recordings[@]} -eq 3 ] || fail "output/ holds ${#recordings[@]} movies, expected 3"
for f in "${recordings[@]}"; do
    n=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
        -of csv=p=0 "$f")
    [ "${n:-0}" -gt 10 ] || fail "$f holds ${n:-no} frames, expected more than 10"
done
