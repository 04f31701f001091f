#!/usr/bin/env bash
# Builds the Windows program (a release build), its unit tests and its installer with MinGW-w64
# and NSIS, runs the unit tests under Wine, drives the program's tray menu and settings dialog
# under Wine on a virtual display, then installs, runs and uninstalls it with its installer.
#
#   tools/windows_build.sh       (as root on Debian 12; no input asked)
#
# The program lands in build-windows/shell/zarnik-viewer.exe, next to its about.html; the
# installer, with the program stripped, in build-windows/zarnik-viewer-setup.exe. The unit tests
# run as Windows programs in a Wine prefix of their own under build-windows/; the user interface
# test makes a fresh prefix and leaves its screenshots in build-windows/screenshots/; the
# installer test makes another fresh prefix. Wine and the virtual display are stopped at the end
# whatever happens. Every wait has a time limit.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$root/build-windows
jobs=$(nproc 2>/dev/null || echo 2)

packages=(cmake ninja-build dpkg-dev googletest g++-mingw-w64-x86-64-posix
          binutils-mingw-w64-x86-64 mingw-w64-tools wine wine64
          python3 xvfb xdotool xclip imagemagick nsis)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' ||
    missing+=("$package")
done
if ((${#missing[@]} > 0)); then
  echo "== installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  timeout 600 apt-get update -qq
  timeout 1800 apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
fi

echo "== TinyXML from Debian's source package"
tools/fetch_tinyxml.sh "$build/third_party" </dev/null

echo "== configure and build"
timeout 600 cmake -S . -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DZV_BUILD_BENCHMARKS=OFF >/dev/null
timeout 3600 cmake --build "$build" -j "$jobs"

echo "== the unit tests under Wine"
export WINEPREFIX=$build/wine-prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
stop_wine() {
  timeout 60 wineserver -k >/dev/null 2>&1 || true
}
trap stop_wine EXIT
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  timeout 300 wineboot --init </dev/null >/dev/null 2>&1
fi
timeout 120 wineserver -w
timeout 3600 ctest --test-dir "$build" -j "$jobs" --output-on-failure --timeout 300 </dev/null
stop_wine

echo "== the program's tray menu and settings dialog under Wine"
timeout 600 python3 tools/windows/gui_test.py "$build/shell/zarnik-viewer.exe" \
  --screenshots "$build/screenshots" </dev/null

echo "== the installer: silent install, the installed program, silent uninstall under Wine"
timeout 600 python3 tools/windows/installer_test.py "$build/zarnik-viewer-setup.exe" </dev/null
echo "== the Windows build and its tests passed: $build/shell/zarnik-viewer.exe," \
  "$build/zarnik-viewer-setup.exe"
