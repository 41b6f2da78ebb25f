#!/bin/bash
# Installs the build into a temporary DESTDIR with prefix /usr and checks the
# tree as a user's system would meet it: the programs run, and every file
# that the desktop, AppStream, systemd and man read passes its own tool.
#   check_install.sh BUILD_DIR VERSION
set -u
build="$1"
version="$2"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root="$work/root"
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Runs a checker; any output other than the lines matching $allow (a regex,
# may be empty) or a non-zero status fails.
quiet() {
    local what="$1" allow="$2"
    shift 2
    local out
    out=$("$@" 2>&1)
    local rc=$?
    [ -n "$allow" ] && out=$(printf '%s\n' "$out" | grep -Ev "$allow")
    if [ $rc -ne 0 ] || [ -n "$(printf '%s' "$out" | tr -d '[:space:]')" ]; then
        fail "$what (status $rc)"
        printf '%s\n' "$out" | sed 's/^/    /'
    fi
}

if ! DESTDIR="$root" cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1; then
    cat "$work/install.log"
    echo "FAIL: cmake --install"
    exit 1
fi

# Nothing lands outside the prefix.
outside=$(cd "$root" && find . -mindepth 1 -maxdepth 1 ! -name usr)
[ -z "$outside" ] || fail "installed outside /usr: $outside"

expected="
usr/bin/BrindleHost
usr/bin/BrindleView
usr/share/applications/brindle-host.desktop
usr/share/applications/brindle-view.desktop
usr/share/icons/hicolor/scalable/apps/brindle-host.svg
usr/share/icons/hicolor/scalable/apps/brindle-view.svg
usr/share/icons/hicolor/48x48/apps/brindle-host.png
usr/share/icons/hicolor/48x48/apps/brindle-view.png
usr/share/icons/hicolor/256x256/apps/brindle-host.png
usr/share/icons/hicolor/256x256/apps/brindle-view.png
usr/lib/systemd/user/brindle-host.service
usr/lib/systemd/system/brindle-host@.service
usr/share/man/man1/BrindleHost.1.gz
usr/share/man/man1/BrindleView.1.gz
usr/share/doc/brindle/copyright
usr/share/doc/brindle/changelog.gz
"
for f in $expected; do
    [ -f "$root/$f" ] || fail "missing $f"
done
metainfo=$(ls "$root"/usr/share/metainfo/*.metainfo.xml 2>/dev/null)
[ "$(echo "$metainfo" | grep -c .)" -eq 2 ] || fail "expected two metainfo files, found: $metainfo"

# The programs run from the tree and carry the one version.
for program in BrindleHost BrindleView; do
    out=$("$root/usr/bin/$program" --version 2>&1)
    [ "$out" = "$program $version" ] || fail "$program --version said '$out'"
done

# Desktop entries: hints are advice, warnings and errors are not.
for f in "$root"/usr/share/applications/*.desktop; do
    quiet "desktop-file-validate $(basename "$f")" ': hint: ' desktop-file-validate "$f"
    icon=$(sed -n 's/^Icon=//p' "$f")
    exec=$(sed -n 's/^Exec=//p' "$f")
    [ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "$f: no icon $icon"
    [ -x "$root/usr/bin/$exec" ] || fail "$f: no program $exec"
done

# AppStream: valid, and the release is this version.
for f in $metainfo; do
    quiet "appstreamcli validate $(basename "$f")" '^$|Validation was successful' \
        appstreamcli validate --no-net "$f"
    grep -q "<release version=\"$version\"" "$f" || fail "$(basename "$f"): release is not $version"
done

# Icons: the PNGs have the size of their folder.
for size in 48 256; do
    for f in "$root"/usr/share/icons/hicolor/${size}x${size}/apps/*.png; do
        file "$f" | grep -q "PNG image data, $size x $size" || fail "$f is not ${size}x$size"
    done
done

# Manual pages: no warnings from man or groff; the page names this version.
for page in "$root"/usr/share/man/man1/*.1.gz; do
    quiet "man --warnings $(basename "$page")" '' \
        sh -c "MANWIDTH=80 man -P cat --warnings -l '$page' >/dev/null"
    quiet "groff -ww $(basename "$page")" '' sh -c "zcat '$page' | groff -man -ww -z"
    zcat "$page" | grep -q "^\.TH .*\"Brindle $version\"" || fail "$(basename "$page") is not of $version"
done

# --help and the manual page list the same options.
for program in BrindleHost BrindleView; do
    help_options=$("$root/usr/bin/$program" --help | grep -oE '(^|[ [,])--?[a-z][a-z-]*' |
        grep -oE '\-\-?[a-z][a-z-]*' | sort -u)
    man_options=$(MANWIDTH=200 man -P cat -l "$root/usr/share/man/man1/$program.1.gz" 2>/dev/null |
        sed -n '/^OPTIONS/,/^[A-Z]/p' | grep -oE '^ {7}--?[a-z][a-z-]*(, --?[a-z][a-z-]*)?' |
        grep -oE '\-\-?[a-z][a-z-]*' | sort -u)
    [ -n "$help_options" ] || fail "$program --help lists no options"
    if [ "$help_options" != "$man_options" ]; then
        fail "$program: --help and the manual page differ"
        diff <(echo "$help_options") <(echo "$man_options") | sed 's/^/    /'
    fi
done

# systemd units. ExecStart names /usr/bin; the copies checked here name the
# programs of this tree instead, and man finds the pages of this tree for
# Documentation=.
if command -v systemd-analyze >/dev/null; then
    mkdir -p "$work/units" "$work/runtime"
    for f in "$root"/usr/lib/systemd/user/*.service "$root"/usr/lib/systemd/system/*.service; do
        sed "s|=/usr/bin/|=$root/usr/bin/|" "$f" >"$work/units/$(basename "$f")"
    done
    quiet "systemd-analyze verify brindle-host@.service" '' \
        env MANPATH="$root/usr/share/man" systemd-analyze verify "$work/units/brindle-host@.service"
    quiet "systemd-analyze --user verify brindle-host.service" '' \
        env MANPATH="$root/usr/share/man" XDG_RUNTIME_DIR="$work/runtime" \
        systemd-analyze --user verify "$work/units/brindle-host.service"
    grep -q "^ExecStart=/usr/bin/BrindleHost --headless$" "$root/usr/lib/systemd/user/brindle-host.service" ||
        fail "the user unit does not start /usr/bin/BrindleHost --headless"
else
    echo "systemd-analyze is not installed: units not verified"
fi

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "install tree: all checks passed"
