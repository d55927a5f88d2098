# Sourced by run.sh and test.sh: installs the Debian packages the build, the
# program and the tests need, and only when one of them is missing.
KESTROVA_PACKAGES=(cmake g++ qt6-base-dev qt6-charts-dev libqt6opengl6-dev libopencv-dev ffmpeg xvfb xauth xdotool libbenchmark-dev
    clang-format dpkg-dev desktop-file-utils)

kestrova_install_missing() {
    local missing=()
    local pkg
    for pkg in "${KESTROVA_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2> /dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update &&
        "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
}

kestrova_jobs() {
    nproc 2> /dev/null || echo 2
}
