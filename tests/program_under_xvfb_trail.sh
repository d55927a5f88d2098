#!/bin/bash
# The real program on a virtual X display with a movie as its camera, used as a user
# would: drag over the plate, Apply, drag around the target, Apply, R, wait, R. The
# recording, re-encoded by ffmpeg, must show the magenta trail within 2 px of the
# path the target takes in the movie (lift_movie_tool writes the movie and checks
# the recording). Every wait is bounded.
set -u
[ $# -eq 2 ] && [ -x "$1" ] && [ -x "$2" ] ||
    { echo "usage: $0 <kestrova executable> <lift_movie_tool executable>" >&2; exit 2; }
program=$(readlink -f "$1")
tool=$(readlink -f "$2")
workdir=$(mktemp -d)
trap 'rm -rf "$workdir"' EXIT
cd "$workdir" || exit 1
"$tool" write movie.avi > movie.txt || { echo "FAIL: the movie could not be written"; exit 1; }
cat > under_xvfb.sh <<'INNER'
set -u
unset QT_QPA_PLATFORM # the display xvfb-run gives us, whatever the caller set
while read -r key a b c d; do
    case $key in
    frame) frame_w=$a frame_h=$b ;;
    plate) plate=("$a" "$b" "$c" "$d") ;;
    target) target=("$a" "$b" "$c" "$d") ;;
    rest_ms) rest_ms=$a ;;
    loop_ms) loop_ms=$a ;;
    esac
done < movie.txt
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
for _ in $(seq 300); do # 30 s
    win=$(xdotool search --onlyvisible --pid "$pid" 2> /dev/null | head -n 1)
    [ -n "$win" ] && break
    sleep 0.1
done
[ -n "$win" ] || fail "no window within 30 s"
sleep 0.5 # laid out and painted
eval "$(xdotool getwindowgeometry --shell "$win")" # X, Y, WIDTH, HEIGHT of the window

# Where the live view's viewport lies on the screen: the view logs the viewport point
# of a press. Two presses also show that it is not scaled. A press and release
# without a move selects nothing.
probe() { # sets vx, vy
    local n
    n=$(count 'MyGraphicsView::mousePressEvent')
    xdotool mousemove "$1" "$2" click 1
    await 'MyGraphicsView::mousePressEvent' "$n" 50 || fail "a click at $1,$2 reached no view"
    read -r vx vy <<< "$(after 'MyGraphicsView::mousePressEvent' | tr -d '{},' |
        awk '{ printf "%d %d", $1, $2 }')"
}
probe $((X + WIDTH / 2 + 100)) $((Y + HEIGHT / 2 + 50))
vx2=$vx vy2=$vy
probe $((X + WIDTH / 2)) $((Y + HEIGHT / 2))
[ $((vx2 - vx)) -eq 100 ] && [ $((vy2 - vy)) -eq 50 ] ||
    fail "the view is scaled: screen steps 100,50 gave $((vx2 - vx)),$((vy2 - vy))"
origin_x=$((X + WIDTH / 2 - vx))
origin_y=$((Y + HEIGHT / 2 - vy))
echo "live viewport at $origin_x,$origin_y"
# The program takes a viewport point to a frame point by the margin it assumes
# around a centred picture, from the view size it logged (support.cpp: viewPointFor).
read -r view_w view_h <<< "$(after 'MainWindow::resizeEvent' | tr -d 'wh=,')"
[ -n "${view_h:-}" ] || fail "the program logged no view size"
# The screen column over frame column $1, and the screen row over frame row $1.
screen_x() { awk -v f="$1" -v v="$view_w" -v s="$frame_w" -v o="$origin_x" \
    'BEGIN { p = f + (v - s) / 2; c = int(p); if (c < p) c++; print o + c }'; }
screen_y() { awk -v f="$1" -v v="$view_h" -v s="$frame_h" -v o="$origin_y" \
    'BEGIN { p = f + (v - s) / 2; c = int(p); if (c < p) c++; print o + c }'; }

# A drag over frame rectangle x y w h in small steps; the program must cut exactly it.
drag() {
    local x0 y0 x1 y1 n i steps=8
    x0=$(screen_x "$1") y0=$(screen_y "$2") x1=$(screen_x $(($1 + $3))) y1=$(screen_y $(($2 + $4)))
    local moves=(mousemove "$x0" "$y0" mousedown 1)
    for i in $(seq $steps); do
        moves+=(sleep 0.02 mousemove $((x0 + (x1 - x0) * i / steps)) $((y0 + (y1 - y0) * i / steps)))
    done
    n=$(count 'MainWindow::saveSelectedRange')
    xdotool "${moves[@]}" sleep 0.05 mouseup 1
    await 'MainWindow::saveSelectedRange' "$n" 50 || fail "the drag over $* ended no selection"
    [ "$(after 'MainWindow::saveSelectedRange')" = "  offset_: $1, $2, $3, $4" ] ||
        fail "the drag over $* cut $(after 'MainWindow::saveSelectedRange')"
}

# Apply is the middle one of the three 60 px buttons at the right end of the bottom
# bar, the lowest row of the window. Clicks go up its column from the window's bottom
# edge until the program reports the press; the row found serves the second time.
apply_x=$((X + WIDTH - 96))
apply_y=
apply() {
    local n y
    n=$(count '^applyButtonPressed')
    for y in ${apply_y:-$(seq $((Y + HEIGHT - 15)) -10 $((Y + HEIGHT - 85)))}; do
        xdotool mousemove "$apply_x" "$y" click 1
        if await '^applyButtonPressed' "$n" 5; then
            [ -n "$apply_y" ] || echo "Apply found at $apply_x,$y (window $X,$Y ${WIDTH}x$HEIGHT)"
            apply_y=$y
            return 0
        fi
    done
    fail "no click up the column x=$apply_x from the window's bottom pressed Apply"
}

drag "${plate[@]}"
apply

# The template is cut from the picture shown when the button is released, so the
# target must be at rest then: before the lift of this pass of the movie, with a
# margin that grows as each pass may end a tick late.
for attempt in 1 2 3; do
    elapsed=$(($(now_ms) - movie_start))
    margin=$((300 + 100 * (elapsed / loop_ms + 1)))
    phase=$((elapsed % loop_ms))
    wait_ms=0
    if [ $((phase + 1000)) -gt $((rest_ms - margin)) ]; then
        wait_ms=$((loop_ms - phase + margin))
    elif [ "$phase" -lt "$margin" ]; then
        wait_ms=$((margin - phase))
    fi
    sleep "$(awk -v ms="$wait_ms" 'BEGIN { print ms / 1000 }')"
    before=$(($(now_ms) - movie_start))
    drag "${target[@]}"
    released=$(($(now_ms) - movie_start))
    # Both ends of the drag within the same rest.
    [ $((before / loop_ms)) -eq $((released / loop_ms)) ] &&
        [ $((released % loop_ms)) -lt $((rest_ms - margin)) ] &&
        echo "target dragged from $((before % loop_ms)) to $((released % loop_ms)) ms into a pass" &&
        break
    [ "$attempt" -lt 3 ] || fail "the target could not be dragged while it was at rest"
done
apply

# One pass of the movie and a little more: the recording holds a whole lift.
xdotool key --window "$win" r
for _ in $(seq 50); do ls output/*.avi > /dev/null 2>&1 && break; sleep 0.1; done
ls output/*.avi > /dev/null 2>&1 || fail "r started no recording"
sleep "$(awk -v ms=$((loop_ms + 500)) 'BEGIN { print ms / 1000 }')"
n=$(count 'removed output/')
xdotool key --window "$win" r
for _ in $(seq 600); do # 60 s for the encoders and ffmpeg
    grep -q 're-encode failed' program.log && fail "ffmpeg could not re-encode the recording"
    [ "$(count 'removed output/')" -gt "$n" ] && break
    sleep 0.1
done
[ "$(count 'removed output/')" -gt "$n" ] || fail "the recording was not re-encoded within 60 s"
xdotool key --window "$win" q 2> /dev/null # the window is gone before the key is up
for _ in $(seq 300); do running && sleep 0.1 || break; done
running && fail "the program still runs 30 s after q"
wait "$pid" || fail "exit code $?, expected 0"
INNER
# A random first display keeps runs started at the same moment apart; the screen
# has room for the window with a 640 x 480 picture.
timeout -k 5 150 xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 1280x1024x24" \
    bash ./under_xvfb.sh "$program" || { echo "FAIL: the run under xvfb-run failed"; exit 1; }
shopt -s nullglob
recordings=(output/*.avi)
[ ${#recordings[@]} -eq 1 ] || { echo "FAIL: output/ holds ${#recordings[@]} movies, expected 1"; exit 1; }
"$tool" check "${recordings[0]}" || exit 1
