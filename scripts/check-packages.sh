#!/usr/bin/env bash
# Checks what installs: builds the Debian packages and checks that each holds
# exactly its files, that lintian, desktop-file-validate and appstreamcli find
# nothing wrong and that fwprep-cli does not pull in Qt; then installs the build
# into a temporary prefix and runs the installed programs there.
# Usage: scripts/check-packages.sh [BUILD FOLDER, default build/ci]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/ci}
version=$(dpkg-parsechangelog -S Version)
arch=$(dpkg-architecture -qDEB_HOST_ARCH)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

# The files of each package, as `dpkg-deb --contents` lists them.
expected_fwprep='./usr/bin/fwprep
./usr/share/applications/io.github.fwprep.Fwprep.desktop
./usr/share/doc/fwprep/changelog.gz
./usr/share/doc/fwprep/copyright
./usr/share/icons/hicolor/scalable/apps/io.github.fwprep.Fwprep.svg
./usr/share/man/man1/fwprep.1.gz
./usr/share/metainfo/io.github.fwprep.Fwprep.metainfo.xml'
expected_fwprep_cli='./usr/bin/fwprep-cli
./usr/share/bash-completion/completions/fwprep-cli
./usr/share/doc/fwprep-cli/changelog.gz
./usr/share/doc/fwprep-cli/copyright
./usr/share/man/man1/fwprep-cli.1.gz
./usr/share/metainfo/io.github.fwprep.FwprepCli.metainfo.xml'

echo "== building the packages"
scripts/build-debs.sh >"$work/build.log" 2>&1 || { tail -n 40 "$work/build.log"; echo "FAIL: the package build failed"; exit 1; }

echo "== what each package holds"
for package in fwprep fwprep-cli; do
  deb=build/debs/${package}_${version}_${arch}.deb
  var=expected_${package//-/_}
  got=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)
  if [ "$got" != "${!var}" ]; then
    fail "$deb holds other files than expected:"
    diff <(echo "${!var}") <(echo "$got") || true
  fi
  dpkg-deb -x "$deb" "$work/root"
done
depends=$(dpkg-deb -f "build/debs/fwprep-cli_${version}_${arch}.deb" Depends)
echo "fwprep-cli depends on: $depends"
if grep -qi qt <<<"$depends"; then fail "fwprep-cli depends on Qt"; fi
grep -q libqt6widgets6 <<<"$(dpkg-deb -f "build/debs/fwprep_${version}_${arch}.deb" Depends)" \
  || fail "fwprep's dependencies do not name Qt Widgets: \${shlibs:Depends} did not work"

echo "== lintian"
lintian --fail-on error,warning "build/debs/fwprep_${version}_${arch}.changes" || fail "lintian"

echo "== desktop entry and AppStream metainfo"
desktop-file-validate "$work"/root/usr/share/applications/*.desktop || fail "desktop-file-validate"
for metainfo in "$work"/root/usr/share/metainfo/*.xml; do
  appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate $metainfo"
  grep -q "<release version=\"$version\"" "$metainfo" || fail "$metainfo has no release $version"
done
for page in "$work"/root/usr/share/man/man1/*.1.gz; do
  zcat "$page" | head -n 20 | grep -q "fwprep $version" || fail "$page does not say version $version"
done

echo "== cmake --install into a temporary prefix"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
got=$(cd "$prefix" && find . ! -type d | sort)
want=$(printf '%s\n' "$expected_fwprep" "$expected_fwprep_cli" | grep -v -e /doc/ | sed 's|^\./usr/|./|; s|\.gz$||' | sort)
if [ "$got" != "$want" ]; then
  fail "cmake --install put other files in place than expected:"
  diff <(echo "$want") <(echo "$got") || true
fi

echo "== the installed fwprep-cli"
[ "$("$prefix/bin/fwprep-cli" --version)" = "fwprep-cli $version" ] || fail "fwprep-cli --version"
printf 'Ayşe Izmir00042\nCan  Bursa00107\n' >"$work/kayit.txt"
"$prefix/bin/fwprep-cli" split -n 3 -w 5 -o "$work/fields.txt" "$work/kayit.txt"
printf 'Ayşe \nIzmir\n00042\nCan  \nBursa\n00107\n' | cmp - "$work/fields.txt" || fail "the installed fwprep-cli split"

echo "== the installed fwprep"
# A program in a folder of its own works beside its program file.
xvfb-run -a scripts/drive-split.sh "$prefix/bin" "$prefix/bin/fwprep" || fail "fwprep beside its program file"
rm -f "$prefix/bin/kayit.txt" "$prefix/bin/test1.txt"
gui_version=$(QT_QPA_PLATFORM=offscreen timeout 10 "$prefix/bin/fwprep" --version 2>/dev/null) || fail "fwprep --version"
grep -q "$version" <<<"$gui_version" || fail "fwprep --version says '$gui_version'"
# fwprep FOLDER works in FOLDER, not beside its program file.
mkdir "$work/folder"
xvfb-run -a scripts/drive-split.sh "$work/folder" "$prefix/bin/fwprep" "$work/folder" || fail "fwprep FOLDER"
[ ! -e "$prefix/bin/test1.txt" ] || fail "fwprep FOLDER wrote beside its program file"
# A folder that does not exist: a message box says so (OK closes it), the same
# line goes to standard error, and the program ends with status 2.
status=0
xvfb-run -a bash -c '
  QT_QPA_PLATFORM=xcb "$1" "$2" 2>"$3" & pid=$!
  box=$(timeout 20 xdotool search --sync --onlyvisible --name "^fwprep\$" | head -n1)
  [ -n "$box" ] && xdotool windowfocus --sync "$box" key Return
  ( sleep 10; kill "$pid" 2>/dev/null ) & wait "$pid"' _ "$prefix/bin/fwprep" "$work/no-such-folder" "$work/folder.err" || status=$?
[ "$status" = 2 ] || fail "fwprep with a folder that does not exist ended with status $status, not 2"
grep -q "no-such-folder" "$work/folder.err" || fail "fwprep with a folder that does not exist said: $(cat "$work/folder.err")"

[ "$failed" = 0 ] || { echo "check-packages: FAILED"; exit 1; }
echo "check-packages: packages, metadata and installed programs as expected"
