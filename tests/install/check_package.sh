#!/bin/bash
# Builds the Debian package of a build tree into a temporary folder (as
# "make package" does) and checks it: the control data lists the libraries
# dpkg-shlibdeps found, the files are in their places, both programs start
# from the unpacked tree, and lintian finds no error.
#   check_package.sh BUILD_DIR VERSION
set -u
build="$1"
version="$2"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

if ! cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack"
    exit 1
fi
deb=$(ls "$work"/out/*.deb 2>/dev/null)
[ "$(echo "$deb" | grep -c .)" -eq 1 ] || { echo "FAIL: expected one .deb, found: $deb"; exit 1; }
echo "package: $(basename "$deb") ($(stat -c %s "$deb") bytes)"

info=$(dpkg-deb -I "$deb")
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
# What dpkg-shlibdeps must have found from the programs' own links.
for lib in libqt6widgets6 libqt6gui6 libqt6core6 libjpeg62-turbo libssl3 libv4lconvert0 libsystemd0 \
    libexpat1 zlib1g libc6 qt6-qpa-plugins; do
    echo "$depends" | grep -q "\b$lib\b" || fail "Depends lacks $lib"
done
echo "$info" | grep -q "^ Section: video" || fail "no section video"

dpkg-deb -x "$deb" "$work/tree"
for f in usr/bin/BrindleHost usr/bin/BrindleView usr/share/applications/brindle-host.desktop \
    usr/share/applications/brindle-view.desktop usr/share/icons/hicolor/256x256/apps/brindle-host.png \
    usr/lib/systemd/system/brindle-host@.service usr/lib/systemd/user/brindle-host.service \
    usr/share/man/man1/BrindleHost.1.gz usr/share/man/man1/BrindleView.1.gz; do
    [ -f "$work/tree/$f" ] || fail "the package lacks $f"
done
[ "$(ls "$work"/tree/usr/share/metainfo/*.metainfo.xml | wc -l)" -eq 2 ] || fail "metainfo files missing"
grep -q "^ExecStart=/usr/bin/BrindleHost --headless$" \
    "$work/tree/usr/lib/systemd/system/brindle-host@.service" || fail "the unit does not start /usr/bin"
for program in BrindleHost BrindleView; do
    out=$("$work/tree/usr/bin/$program" --version 2>&1)
    [ "$out" = "$program $version" ] || fail "unpacked $program --version said '$out'"
done

if command -v lintian >/dev/null; then
    # lintian refuses to run as root unless told that it is meant.
    lintian --allow-root --fail-on error --display-info --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1
    rc=$?
    sed 's/^/    lintian: /' "$work/lintian.log"
    [ $rc -eq 0 ] || fail "lintian found errors (status $rc)"
else
    fail "lintian is not installed (scripts/bootstrap.sh installs it)"
fi

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "package: all checks passed"
