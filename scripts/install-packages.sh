#!/usr/bin/env bash
# Installs the Debian packages that building, testing or benchmarking Pixhound needs and that are
# missing. Usage: install-packages.sh build|bench|fuzz|package|format
set -euo pipefail

build=(qt6-base-dev qt6-base-dev-tools qt6-svg-dev libcurl4-openssl-dev libcpp-httplib-dev
       pkg-config cmake ninja-build g++ fonts-noto-cjk qt6-translations-l10n python3-pyftpdlib
       openssl libgl-dev libgumbo-dev)
case "${1:-build}" in
    build) wanted=("${build[@]}") ;;
    bench) wanted=("${build[@]}" nginx-light wget wget2 curl xvfb xauth time valgrind) ;;
    fuzz) wanted=("${build[@]}" clang libclang-rt-14-dev) ;;
    package) wanted=("${build[@]}" dpkg-dev desktop-file-utils appstream) ;;
    format) wanted=(clang-format) ;;
    *) echo "install-packages.sh: unknown set '$1'" >&2; exit 2 ;;
esac

missing=()
for pkg in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Pixhound: installing missing packages: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
    sudo=()
elif command -v sudo >/dev/null 2>&1; then
    sudo=(sudo)
else
    echo "Pixhound: cannot install ${missing[*]}: run as root, or install sudo, or install them yourself with apt-get." >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
