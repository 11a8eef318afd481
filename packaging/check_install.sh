#!/usr/bin/env bash
# Installs the build into a fresh prefix and validates what a desktop reads.
set -euo pipefail
build="$1"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" > /dev/null
for f in bin/tavlo bin/tavlo_classic \
         share/applications/org.example.tavlo.desktop \
         share/applications/org.example.tavlo_classic.desktop \
         share/icons/hicolor/scalable/apps/org.example.tavlo.svg \
         share/icons/hicolor/64x64/apps/org.example.tavlo.png \
         share/metainfo/org.example.tavlo.metainfo.xml; do
  [ -e "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
[ -x "$prefix/bin/tavlo" ] && [ -x "$prefix/bin/tavlo_classic" ]
desktop-file-validate "$prefix/share/applications/org.example.tavlo.desktop" \
                      "$prefix/share/applications/org.example.tavlo_classic.desktop"
appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/org.example.tavlo.metainfo.xml"
xmllint --noout "$prefix/share/icons/hicolor/scalable/apps/org.example.tavlo.svg" 2>/dev/null \
  || python3 -c "import sys, xml.dom.minidom; xml.dom.minidom.parse(sys.argv[1])" \
       "$prefix/share/icons/hicolor/scalable/apps/org.example.tavlo.svg"
echo "installed and validated under a fresh prefix"
