#!/usr/bin/env bash
# Builds the Debian packages fwprep and fwprep-cli with dpkg-buildpackage and
# leaves them in build/debs/. The build runs in a temporary copy of the tree,
# because dpkg-buildpackage writes its results into the parent folder of the
# tree it builds.
# Usage: scripts/build-debs.sh   (DEB_BUILD_OPTIONS=parallel=N to set the jobs)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build/debs

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
version=$(dpkg-parsechangelog -S Version)
tree=$work/fwprep-$version
mkdir "$tree"
# The tree as it stands, without the build folders and the repository itself.
tar -C "$root" --exclude=./build --exclude=./.git -cf - . | tar -C "$tree" -xf -

export DEB_BUILD_OPTIONS=${DEB_BUILD_OPTIONS:-parallel=$(nproc)}
(cd "$tree" && dpkg-buildpackage -us -uc -b)

rm -rf "$out"
mkdir -p "$out"
cp "$work"/*.deb "$work"/*.buildinfo "$work"/*.changes "$out"/
ls -1 "$out"
