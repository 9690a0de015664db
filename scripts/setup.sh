# Sourced by the other scripts: installs the Debian packages they need when missing.
# Uses apt-get as root, sudo otherwise; fails loudly when neither can install.

vekmrk_need_packages() {
    local missing=()
    local p
    for p in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    if ! command -v apt-get >/dev/null 2>&1; then
        echo "error: missing packages ${missing[*]} and no apt-get to install them" >&2
        return 1
    fi
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then
            sudo=(sudo)
        else
            echo "error: missing packages ${missing[*]}; run as root or install sudo" >&2
            return 1
        fi
    fi
    echo "Installing ${missing[*]} ..." >&2
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

vekmrk_jobs() {
    nproc 2>/dev/null || echo 2
}

# Builds the command-line programs and the signal generator (release, no tests, no front end)
# from the source folder $1 into the build folder $2, quietly.
vekmrk_build_programs() {
    cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
        -DVEKMRK_BUILD_FRONTEND=OFF >/dev/null
    cmake --build "$2" -j"$(vekmrk_jobs)" >/dev/null
}

# For the measuring scripts: makes $decoder, $encoder and $baseline absolute paths, building the
# programs from the source folder $1 into build-yield/ for whichever of the first two is not given.
vekmrk_measured_programs() {
    if [ -z "$decoder" ] || [ -z "$encoder" ]; then
        vekmrk_build_programs "$1" "$1/build-yield"
        [ -n "$decoder" ] || decoder="$1/build-yield/decoder/vekmrkdec"
        [ -n "$encoder" ] || encoder="$1/build-yield/encoder/vekmrkenc"
    fi
    decoder=$(realpath "$decoder")
    encoder=$(realpath "$encoder")
    [ -z "$baseline" ] || baseline=$(realpath "$baseline")
}
