#!/usr/bin/env bash
# Fetches TinyXML 2.6.2 as Debian's source package and unpacks it with Debian's patches applied,
# for the Windows build and the fuzzers to compile (cmake/tinyxml_from_source.cmake).
#
#   fetch_tinyxml.sh DIRECTORY     (prints the unpacked source folder, DIRECTORY/tinyxml)
#
# Needs root: a deb-src entry is added for the download in a list file of its own, with the same
# URIs, suites, components and keys as the system's Debian list, and removed again afterwards,
# also when anything fails. A folder unpacked by an earlier run is used as it stands.
set -euo pipefail

dest=${1:?usage: fetch_tinyxml.sh DIRECTORY}
mkdir -p "$dest"
dest=$(cd "$dest" && pwd)
unpacked=$dest/tinyxml

if [[ -f $unpacked/tinyxml.h && -f $unpacked/tinyxmlparser.cpp ]]; then
  echo "$unpacked"
  exit 0
fi

system_list=/etc/apt/sources.list.d/debian.sources
source_list=/etc/apt/sources.list.d/zarnik-viewer-tinyxml-src.sources
[[ -r $system_list ]] || { echo "fetch_tinyxml.sh: $system_list is missing" >&2; exit 1; }

restore_lists() {
  rm -f "$source_list"
  timeout 300 apt-get update -qq >/dev/null 2>&1 || true
}
trap restore_lists EXIT

# Every stanza of the system's list again, for source packages.
sed 's/^Types:.*/Types: deb-src/' "$system_list" >"$source_list"
timeout 300 apt-get update -qq >/dev/null

download=$dest/download
rm -rf "$download" "$unpacked"
mkdir -p "$download"
# apt drops to its own user for downloads; let it write here.
chmod 0777 "$download"
(cd "$download" && timeout 300 apt-get source --download-only -qq tinyxml >/dev/null)

dsc=$(find "$download" -maxdepth 1 -name 'tinyxml_2.6.2*.dsc' | head -n 1)
[[ -n $dsc ]] || { echo "fetch_tinyxml.sh: no tinyxml 2.6.2 source package came" >&2; exit 1; }
# apt checked the files against the signed index; dpkg-source applies Debian's patches.
timeout 120 dpkg-source --no-check -x "$dsc" "$unpacked" >/dev/null
rm -f "$dest"/tinyxml_2.6.2*  # the copy of the original tarball that dpkg-source leaves beside
echo "$unpacked"
