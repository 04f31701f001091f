#!/usr/bin/env bash
# Builds the program's pieces and shows what works so far: the merge of friends' feed files into
# "all.xml". Downloading from the journal service and serving "all.xml" come with the update engine
# and the local server.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DZV_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-demo --target merge-feeds >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp tools/demo/feeds/* "$work"/
echo "Friends' feeds as downloaded: alice (RSS 2.0), bob (RSS 0.91), _carol (RSS 1.0),"
echo "dave (an error page instead of a feed)."
echo
all_xml=$(build-demo/tools/merge-feeds "$work" abc alice bob _carol dave)
echo "Merged into ${all_xml}, the first items:"
echo
head -n 40 "$all_xml"
echo "    ..."
echo
echo "Not there yet: downloading the friends list and feeds from the journal service, the"
echo "built-in HTTP server that serves all.xml, and the tray program."
