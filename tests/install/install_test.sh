#!/usr/bin/env bash
# Installs the built tree into a temporary DESTDIR, as `make install DESTDIR=...` does, and
# lets the desktop's own validators judge what lands: the launcher entry and the metadata.
# Usage: install_test.sh <build folder>
set -euo pipefail

build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null
root="$stage/usr"

failed=0
for file in bin/quillet \
            share/applications/org.quillet.Quillet.desktop \
            share/metainfo/org.quillet.Quillet.metainfo.xml \
            share/icons/hicolor/scalable/apps/org.quillet.Quillet.svg \
            share/icons/hicolor/symbolic/apps/org.quillet.Quillet-symbolic.svg; do
  if [ ! -s "$root/$file" ]; then
    echo "missing after install: $file"
    failed=1
  fi
done
[ -x "$root/bin/quillet" ] || { echo "bin/quillet is not executable"; failed=1; }
# Nothing may land outside the prefix (an absolute DESTINATION would).
outside=$(find "$stage" -mindepth 1 -maxdepth 1 ! -name usr)
[ -z "$outside" ] || { echo "installed outside the prefix: $outside"; failed=1; }

desktop-file-validate "$root/share/applications/org.quillet.Quillet.desktop" || failed=1
appstreamcli validate --no-net "$root/share/metainfo/org.quillet.Quillet.metainfo.xml" || failed=1
# The metadata names the launcher entry and the icon that were installed.
grep -q '<launchable type="desktop-id">org.quillet.Quillet.desktop</launchable>' \
  "$root/share/metainfo/org.quillet.Quillet.metainfo.xml" || { echo "metainfo names another launcher"; failed=1; }
grep -qx 'Icon=org.quillet.Quillet' "$root/share/applications/org.quillet.Quillet.desktop" || { echo "wrong icon name"; failed=1; }

# The installed program runs without a display for its command line.
"$root/bin/quillet" --version | grep -q '^quillet ' || { echo "bin/quillet --version failed"; failed=1; }

exit "$failed"
