#!/usr/bin/env bash
# Sets up a fresh Debian/Ubuntu machine, builds Kestrelnote, then runs it or its tests.
#   tools/bootstrap.sh run    install what is missing, build, start the application
#   tools/bootstrap.sh test   install what is missing, build, run the whole suite through ctest
set -euo pipefail

mode=${1:-run}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KESTRELNOTE_BUILD_DIR:-$root/build}

install_missing_packages() {
    local wanted missing=()
    mapfile -t wanted < <(grep -v -E '^\s*(#|$)' "$root/tools/debian-packages.txt")
    for pkg in "${wanted[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

configure_and_build() {
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRELNOTE_WERROR=ON
    cmake --build "$build" --parallel "$(nproc)"
}

install_missing_packages
configure_and_build

case "$mode" in
    run)
        exec "$build/app/kestrelnote" "${@:2}"
        ;;
    test)
        cd "$build"
        exec ctest --output-on-failure --parallel "$(nproc)" "${@:2}"
        ;;
    *)
        echo "usage: $0 run|test" >&2
        exit 2
        ;;
esac
