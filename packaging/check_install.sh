#!/usr/bin/env bash
# Installs the build into a fresh prefix and validates what a desktop reads.
set -euo pipefail
build="$1"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" > /dev/null
for program in tavlo tavlo_classic; do
  [ -e "$build/$program" ] || continue
  for f in "bin/$program" "share/applications/org.example.$program.desktop" \
           "share/icons/hicolor/scalable/apps/org.example.$program.svg" \
           "share/icons/hicolor/64x64/apps/org.example.$program.png" \
           "share/metainfo/org.example.$program.metainfo.xml" "share/man/man1/$program.1"; do
    [ -e "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
  done
  [ -x "$prefix/bin/$program" ]
  desktop-file-validate "$prefix/share/applications/org.example.$program.desktop"
  appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/org.example.$program.metainfo.xml"
  python3 -c "import sys, xml.dom.minidom; xml.dom.minidom.parse(sys.argv[1])" \
    "$prefix/share/icons/hicolor/scalable/apps/org.example.$program.svg"
  man -l "$prefix/share/man/man1/$program.1" > /dev/null
done
echo "installed and validated under a fresh prefix"
