#!/usr/bin/env bash
# Builds the Debian package from a build folder and checks what a Debian user would install:
# the program, its menu entry, its icons and a valid AppStream description, with dependencies
# on the shared libraries the program links.
#   check_deb.sh <build folder>
set -euo pipefail
build="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; echo "0 passed, 1 failed"; exit 1; }

(cd "$build" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1) || {
  cat "$work/cpack.log"
  fail "cpack could not build the package"
}
deb="$(ls "$work"/quillax_*.deb 2>/dev/null | head -n 1)"
[ -n "$deb" ] || fail "no quillax_*.deb was made"

contents="$(dpkg-deb -c "$deb" | awk '{print $6}')"
for path in \
  ./usr/bin/quillax \
  ./usr/share/applications/quillax.desktop \
  ./usr/share/icons/hicolor/scalable/apps/quillax.svg \
  ./usr/share/icons/hicolor/48x48/apps/quillax.png \
  ./usr/share/icons/hicolor/256x256/apps/quillax.png \
  ./usr/share/metainfo/org.quillax.Quillax.metainfo.xml; do
  grep -qxF "$path" <<<"$contents" || fail "the package lacks $path"
done
# Nothing of the build or the tests goes into the package.
if grep -qE 'test|bench|demo-site|\.a$' <<<"$contents"; then
  fail "the package holds build or test files: $(grep -E 'test|bench|demo-site|\.a$' <<<"$contents" | head -n 3)"
fi

depends="$(dpkg-deb -f "$deb" Depends)"
for lib in libqt6core6 libqt6webenginewidgets6 libqt6widgets6; do
  grep -q "$lib" <<<"$depends" || fail "Depends does not name $lib: $depends"
done
[ "$(dpkg-deb -f "$deb" Package)" = quillax ] || fail "the package is not named quillax"

dpkg-deb -x "$deb" "$work/root"
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net \
    "$work/root/usr/share/metainfo/org.quillax.Quillax.metainfo.xml" >"$work/as.log" 2>&1 || {
    cat "$work/as.log"
    fail "the AppStream description does not validate"
  }
fi
grep -q '^Exec=quillax' "$work/root/usr/share/applications/quillax.desktop" ||
  fail "the menu entry does not start the program"
echo "1 passed, 0 failed"
