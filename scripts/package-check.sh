#!/usr/bin/env bash
# Builds the Debian package in BUILD_DIR (a configured build tree), unpacks it
# into a temporary root and checks that every file lands where the desktop
# and udev look for it, that the desktop entry and the AppStream metadata
# validate cleanly and that the plugin dependencies are declared. Installs
# nothing of the package on this machine.
#
#   scripts/package-check.sh build
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
build_dir=$1
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  echo "package-check: $build_dir is not a configured build directory" >&2
  exit 2
fi

# The validators, installed once.
"$(dirname "$0")/install-deps.sh" desktop-file-utils appstream

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")
arch=$(dpkg --print-architecture)
deb="$build_dir/quillmark_${version}_${arch}.deb"
rm -f "$deb"

cmake --build "$build_dir" --target package
if [ ! -f "$deb" ]; then
  echo "package-check: the build made no $deb" >&2
  exit 1
fi

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

app_id=io.github.quillmark.Quillmark
expected=(
  usr/bin/quillmark
  usr/bin/quillmark-tool
  usr/lib/udev/rules.d/60-quillmark-box.rules
  "usr/share/applications/$app_id.desktop"
  "usr/share/metainfo/$app_id.metainfo.xml"
  "usr/share/icons/hicolor/scalable/apps/$app_id.svg"
  "usr/share/icons/hicolor/48x48/apps/$app_id.png"
  "usr/share/icons/hicolor/128x128/apps/$app_id.png"
  "usr/share/icons/hicolor/256x256/apps/$app_id.png"
)
fail=0
for f in "${expected[@]}"; do
  if [ ! -f "$root/$f" ]; then
    echo "package-check: missing /$f" >&2
    fail=1
  fi
done
for f in usr/bin/quillmark usr/bin/quillmark-tool; do
  if [ -f "$root/$f" ] && [ ! -x "$root/$f" ]; then
    echo "package-check: /$f is not executable" >&2
    fail=1
  fi
done
# Only the two programs: no screenshot tool, tests or benchmarks.
extra=$(find "$root/usr/bin" -type f ! -name quillmark ! -name quillmark-tool -printf '%f\n')
if [ -n "$extra" ]; then
  echo "package-check: unexpected programs in /usr/bin: $extra" >&2
  fail=1
fi
if [ -d "$root/etc" ]; then
  echo "package-check: the package ships files under /etc (the udev rule belongs in /usr/lib/udev/rules.d)" >&2
  fail=1
fi

# desktop-file-validate prints hints and errors; either counts.
if [ -f "$root/usr/share/applications/$app_id.desktop" ]; then
  if ! out=$(desktop-file-validate "$root/usr/share/applications/$app_id.desktop" 2>&1) || [ -n "$out" ]; then
    echo "package-check: desktop-file-validate:" >&2
    echo "$out" >&2
    fail=1
  fi
fi
# AppStream: exit status 0 and no warning or error; notes of the info level
# (a tag this appstream version does not know yet) are allowed.
if [ -f "$root/usr/share/metainfo/$app_id.metainfo.xml" ]; then
  if ! out=$(appstreamcli validate --no-net "$root/usr/share/metainfo/$app_id.metainfo.xml" 2>&1) \
      || grep -qE '^(W|E): ' <<<"$out"; then
    echo "package-check: appstreamcli validate:" >&2
    echo "$out" >&2
    fail=1
  fi
fi

info=$(dpkg-deb -I "$deb")
depends=$(sed -n 's/^ Depends: //p' <<<"$info")
if ! grep -qE '(^|, )libqt6sql6-sqlite($|[ ,(])' <<<"$depends"; then
  echo "package-check: Depends lacks libqt6sql6-sqlite: '$depends'" >&2
  fail=1
fi
if ! grep -q 'libqt6core6' <<<"$depends"; then
  echo "package-check: Depends lacks the libraries dpkg-shlibdeps finds: '$depends'" >&2
  fail=1
fi

echo
echo "== $deb: $(stat -c %s "$deb") bytes"
echo "$info"
echo
dpkg-deb -c "$deb"

if [ $fail -ne 0 ]; then
  echo "package-check: FAILED" >&2
  exit 1
fi
echo "package-check: OK"
