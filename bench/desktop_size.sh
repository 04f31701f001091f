#!/usr/bin/env bash
# What the desktop front end (the tray in the panel) costs in size: zarnik-viewer built with and
# without it (-DZV_DESKTOP_FRONT_END=ON/OFF), in RelWithDebInfo and Release, unstripped and
# stripped, then the non-blank lines of the front end's own files and of its tests.
#
#   bench/desktop_size.sh [WORK_DIR]    (default: build-size/ beside bench/)
#
# Builds only the zarnik-viewer target, four times, into WORK_DIR/<type>-<on|off>.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$root/build-size}
jobs=${JOBS:-2}

non_blank() { cat "$@" | grep -c -v '^[[:space:]]*$'; }

printf '%-16s %-5s %12s %12s\n' type front unstripped stripped
for type in RelWithDebInfo Release; do
  for front in ON OFF; do
    build=$work/$type-$front
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=$type -DZV_DESKTOP_FRONT_END=$front \
      -DZV_BUILD_BENCHMARKS=OFF >/dev/null
    cmake --build "$build" -j "$jobs" --target zarnik-viewer >/dev/null
    program=$build/shell/zarnik-viewer
    strip -o "$build/zarnik-viewer.stripped" "$program"
    printf '%-16s %-5s %12d %12d\n' $type $front "$(stat -c %s "$program")" \
      "$(stat -c %s "$build/zarnik-viewer.stripped")"
  done
done
for front in ON OFF; do
  echo "shared libraries, front end $front: $(ldd "$work/Release-$front/shell/zarnik-viewer" |
    awk '{print $1}' | tr '\n' ' ')"
done

cd "$root"
front=platform/posix/front_ends
echo "non-blank lines:"
echo "  desktop front end (desktop_front_end, status_notifier_tray, icon_pixmaps):" \
  "$(non_blank $front/desktop_front_end.* $front/status_notifier_tray.* $front/icon_pixmaps.*)"
echo "  its stand-in when left out (desktop_front_end_absent.cpp):" \
  "$(non_blank $front/desktop_front_end_absent.cpp)"
echo "  front-end choice and session (front_end_choice, front_end_session):" \
  "$(non_blank $front/front_end_choice.* $front/front_end_session.*)"
echo "  its CMake (the desktop front end block of platform/CMakeLists.txt):" \
  "$(sed -n '/^if(ZV_DESKTOP_FRONT_END)/,/^endif()/p' platform/CMakeLists.txt | non_blank)"
tests=$(git ls-files 'tests/*' | grep -E 'fake_tray_panel|private_session_bus|desktop_tray|desktop_panel|status_notifier|desktop_front_end|icon_pixmaps|front_end_choice')
echo "  its tests and test support: $(non_blank $tests)"
echo "    ($(echo $tests))"
