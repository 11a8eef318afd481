#!/usr/bin/env bash
# Builds the Debian packages from a copy of the source tree, checks them with
# lintian, unpacks each into a scratch root and validates what desktops read
# there. Any user can run it: the packages build without root.
#   check_packages.sh SOURCE_DIR
set -euo pipefail
src="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# What the tree holds, committed or not, without anyone's build folders.
mkdir "$work/src"
(cd "$src" && git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$work/src")
(cd "$work/src" && dpkg-buildpackage -b -us -uc -j2 > "$work/build.log" 2>&1) || { tail -40 "$work/build.log"; exit 1; }

lint="$(cd "$work" && lintian --fail-on error,warning ./*.changes 2>&1 | grep -v 'running with root privileges' || true)"
if [ -n "$lint" ]; then
  echo "lintian: $lint"
  exit 1
fi
echo "lintian: no errors, no warnings"
for deb in "$work"/tavlo_*.deb "$work"/tavlo-classic_*.deb; do
  dpkg-deb -f "$deb" Package Version Installed-Size Depends
  echo "  $(stat -c %s "$deb") bytes"
done

for program in tavlo tavlo_classic; do
  package="${program//_/-}"
  root="$work/root-$program"
  mkdir "$root"
  dpkg -x "$work/${package}"_*_*.deb "$root"
  desktop-file-validate "$root/usr/share/applications/org.example.$program.desktop"
  appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/org.example.$program.metainfo.xml" > /dev/null
  [ -s "$root/usr/share/man/man1/$program.1.gz" ]
  [ -x "$root/usr/bin/$program" ]
done
