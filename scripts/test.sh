#!/bin/bash
# Installs what is missing, builds both configurations (movie modes off in
# build-0/, on in build-1/) and runs every test of both with CTest. Exits
# non-zero when a build or a test fails.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$repo/scripts/deps.sh"

kestrova_install_missing
jobs=$(kestrova_jobs)
status=0

# The tree stays formatted: a change that is not fails here, before anything builds.
echo "=== clang-format ==="
mapfile -t sources < <(cd "$repo" && find app video analysis strobe tests bench \
    -name '*.cpp' -o -name '*.h' | sort)
if (cd "$repo" && clang-format --dry-run -Werror "${sources[@]}"); then
    echo "=== clang-format: clean ==="
else
    echo "=== clang-format: FAILED (run clang-format -i on the files above) ==="
    status=1
fi

# The Debian package of a build tree: built from it, with the program, its
# desktop entry (valid) and icon, and the libraries it needs as dependencies.
check_package() {
    local dir=$1 program=kestrova
    [ "$2" = 1 ] && program=kestrova-movies
    (cd "$dir" && cpack -G DEB > cpack.log) || { cat "$dir/cpack.log"; return 1; }
    local deb
    deb=$(ls "$dir"/"$program"_*.deb) || return 1
    local contents
    contents=$(dpkg-deb -c "$deb")
    for path in "./usr/bin/$program" "./usr/share/applications/$program.desktop" \
        "./usr/share/icons/hicolor/scalable/apps/$program.svg"; do
        grep -q " $path\$" <<< "$contents" || { echo "$deb lacks $path"; return 1; }
    done
    dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 ||
        { echo "$deb does not depend on Qt"; return 1; }
    desktop-file-validate "$dir/$program.desktop" || return 1
    echo "=== $(basename "$deb"): contents, dependencies and desktop entry checked ==="
}

for mode in 0 1; do
    dir="$repo/build-$mode"
    # The benchmarks do not depend on the switch: build them once.
    if [ "$mode" = 1 ]; then option=ON; bench=OFF; else option=OFF; bench=ON; fi
    echo "=== movieModesEnabled=$option in $dir ==="
    # Keep going after a failure so that one run reports both configurations.
    if cmake -S "$repo" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DmovieModesEnabled="$option" \
        -DKESTROVA_BUILD_BENCHMARKS="$bench" -DKESTROVA_WARNINGS_AS_ERRORS=ON &&
        cmake --build "$dir" -j "$jobs" &&
        ctest --test-dir "$dir" --output-on-failure &&
        check_package "$dir" "$mode"; then
        echo "=== movieModesEnabled=$option: passed ==="
    else
        echo "=== movieModesEnabled=$option: FAILED ==="
        status=1
    fi
done
exit $status
