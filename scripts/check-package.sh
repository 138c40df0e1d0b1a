#!/usr/bin/env bash
# Builds the Debian package from a configured build folder, unpacks it into
# a temporary root with dpkg -x, and runs what it installed: the programs'
# --version, a sample made by the installed orvan-mkdisk read back by the
# installed orvan-cli info, and the files beside them (language file, desktop
# entry, icon, man pages).
#
#   bash scripts/check-package.sh          (ORVAN_BUILD_DIR, default build)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${ORVAN_BUILD_DIR:-build}
cmake --build "$BUILD_DIR" -j "$(nproc)"
rm -f "$BUILD_DIR"/orvan-viewer_*.deb
(cd "$BUILD_DIR" && cpack -G DEB >/dev/null)
DEB=$(ls "$BUILD_DIR"/orvan-viewer_*.deb)
echo "package: $DEB"
dpkg-deb -f "$DEB" Package Version Depends

ROOT=$(mktemp -d)
trap 'rm -rf "$ROOT"' EXIT
dpkg -x "$DEB" "$ROOT"
for f in usr/bin/orvan-viewer usr/bin/orvan-cli usr/bin/orvan-mkdisk usr/bin/orvan-extract \
  usr/share/orvan-viewer/Language_Russian.ini usr/share/applications/orvan-viewer.desktop \
  usr/share/icons/hicolor/scalable/apps/orvan-viewer.svg usr/share/man/man1/orvan-cli.1 \
  usr/share/man/man1/orvan-mkdisk.1 usr/share/man/man1/orvan-viewer.1; do
  if [ ! -f "$ROOT/$f" ]; then
    echo "the package has no /$f" >&2
    exit 1
  fi
done
# Our libraries are linked in statically: nothing of the build is needed.
if ldd "$ROOT"/usr/bin/* | grep -q "not found"; then
  ldd "$ROOT"/usr/bin/* >&2
  exit 1
fi
for p in orvan-viewer orvan-cli orvan-mkdisk orvan-extract; do "$ROOT/usr/bin/$p" --version; done
"$ROOT/usr/bin/orvan-mkdisk" -o "$ROOT/sample.img" --duration 3 >/dev/null
"$ROOT/usr/bin/orvan-cli" info "$ROOT/sample.img"
echo "package: installed and ran"
