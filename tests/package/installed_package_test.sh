#!/usr/bin/env bash
# The Debian package of this build tree, as a user gets it: built with CPack into a
# temporary folder, checked by lintian, unpacked with dpkg-deb -x (nothing is installed on
# the machine), and the unpacked program run: --version, a start with --no-browser that
# serves the player and the start movie from share/tunewick, and an end-to-end smoke test
# in Chromium. Last, apt must be able to resolve the package's dependencies.
#   installed_package_test.sh BUILD_DIR SOURCE_DIR VERSION NODE
set -euo pipefail
build=$1 source=$2 version=$3 node=$4

work=$(mktemp -d "${TMPDIR:-/tmp}/tunewick-package-XXXXXX")
host=""
cleanup() {
  if [ -n "$host" ]; then kill "$host" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

echo "== building the package"
cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
deb="$work/out/tunewick_${version}_amd64.deb"
[ -f "$deb" ] || fail "no $(basename "$deb"); made: $(ls "$work/out")"

echo "== lintian"
lintian --fail-on error "$deb" || fail "lintian reports errors"

echo "== control fields"
depends=$(dpkg-deb -f "$deb" Depends)
recommends=$(dpkg-deb -f "$deb" Recommends)
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"
[[ ", $depends," == *", xdg-utils,"* ]] || fail "Depends lacks xdg-utils: $depends"
[[ "$depends" == *libportaudio2* ]] || fail "Depends lacks the shared libraries (dpkg-shlibdeps): $depends"
[[ "$recommends" == *chromium* ]] || fail "Recommends lacks chromium: $recommends"

echo "== layout"
root="$work/root"
dpkg-deb -x "$deb" "$root"
share="$root/usr/share"
for file in usr/bin/tunewick usr/bin/tunewick-analyze \
    usr/share/tunewick/data/Loader.html usr/share/tunewick/web/player/index.html \
    usr/share/applications/io.github.tunewick.Tunewick.desktop \
    usr/share/metainfo/io.github.tunewick.Tunewick.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/tunewick.svg \
    usr/share/man/man1/tunewick.1.gz usr/share/man/man1/tunewick-analyze.1.gz \
    usr/share/doc/tunewick/copyright usr/share/doc/tunewick/changelog.gz; do
  [ -s "$root/$file" ] || fail "the package lacks $file"
done
for size in 48 128 256; do
  png="$share/icons/hicolor/${size}x${size}/apps/tunewick.png"
  file -b "$png" | grep -q "PNG image data, $size x $size" || fail "$png is no $size px PNG: $(file -b "$png" 2>&1)"
done
# Every movie and every player file of the build tree, and nothing else in share/tunewick.
diff <(cd "$build/bin" && find data web -type f | sort) <(cd "$share/tunewick" && find . -type f | sed 's#^\./##' | sort) \
  || fail "share/tunewick differs from the files beside the program in the build tree"
desktop-file-validate "$share/applications/io.github.tunewick.Tunewick.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$share/metainfo/io.github.tunewick.Tunewick.metainfo.xml" || fail "AppStream data"

echo "== the unpacked program"
[ "$("$root/usr/bin/tunewick" --version)" = "tunewick $version" ] || fail "tunewick --version"
[ "$("$root/usr/bin/tunewick-analyze" --version)" = "tunewick-analyze $version" ] || fail "tunewick-analyze --version"
# Started through a link from elsewhere, as a menu or a PATH entry may do: the files are
# found from the program's real path.
mkdir "$work/elsewhere"
ln -s "$root/usr/bin/tunewick" "$work/elsewhere/tunewick"
(cd "$work" && exec "$work/elsewhere/tunewick" --no-browser --port 0 >"$work/host.out" 2>"$work/host.err") &
host=$!
url=""
for _ in $(seq 200); do
  url=$(sed -n 's/^Tunewick is running at \(http:[^ ]*\)$/\1/p' "$work/host.out")
  [ -n "$url" ] && break
  kill -0 "$host" 2>/dev/null || break
  sleep 0.1
done
[ -n "$url" ] || { cat "$work/host.out" "$work/host.err" >&2; fail "the program printed no address"; }
grep -qx "Movies and player: $share/tunewick/" "$work/host.out" \
  || { cat "$work/host.out" >&2; fail "the start-up output does not name $share/tunewick/"; }
origin=${url%%/\?*}
curl -fsS "$url" -o "$work/index.html" || fail "GET $url"
grep -q '/player/player.js' "$work/index.html" || fail "/ is not the player page"
curl -fsS "$origin/movies/Loader.html" -o "$work/Loader.html" || fail "GET /movies/Loader.html"
cmp -s "$work/Loader.html" "$share/tunewick/data/Loader.html" || fail "/movies/Loader.html is not the installed start movie"
kill -TERM "$host"
status=0
wait "$host" || status=$?
host=""
[ "$status" -eq 0 ] || { cat "$work/host.err" >&2; fail "the program ended with status $status on SIGTERM"; }

echo "== end-to-end smoke test in Chromium"
TUNEWICK_BIN="$root/usr/bin/tunewick" "$node" --test "$source/tests/e2e/installed.e2e.test.mjs" \
  || fail "the installed program's menu"

echo "== apt resolves the package"
# A simulation only (no lock taken, nothing installed).
apt-get install --simulate -o Debug::NoLocking=true "$deb" >"$work/apt.log" 2>&1 \
  || { cat "$work/apt.log" >&2; fail "apt-get install --simulate"; }
grep -q '^Inst tunewick ' "$work/apt.log" || { cat "$work/apt.log" >&2; fail "apt would not install tunewick"; }
echo "== the package is good: $(basename "$deb")"
