#!/usr/bin/env bash
# Installs every Debian package that building, running and testing the project needs.
# Safe to run again: packages already present are left alone.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qtbase5-dev qtbase5-dev-tools libqt5sql5-sqlite qtkeychain-qt5-dev
    qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite qtkeychain-qt6-dev
    p7zip-full libssl-dev
    dbus gnome-keyring
    xvfb xauth imagemagick xdotool
    clang libclang-rt-14-dev
    dpkg-dev lintian man-db appstream desktop-file-utils
    clang-format clang-tidy clazy
    time valgrind
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: all packages present"
    exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "install-deps: run as root or install sudo" >&2; exit 1; }
    sudo="sudo"
fi
echo "install-deps: installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
