#!/bin/sh
# Installs the Debian packages that building, testing and running Brindle need.
# Idempotent: packages already present are left alone, and apt-get runs only
# when something is missing.
set -eu

PACKAGES="
cmake
ninja-build
g++
make
pkg-config
zlib1g-dev
libjpeg62-turbo-dev
libssl-dev
openssl
qt6-base-dev
qt6-qpa-plugins
qt6-tools-dev
qt6-l10n-tools
qt6-translations-l10n
libv4l-dev
googletest
libgtest-dev
libgmock-dev
libbenchmark-dev
lighttpd
lighttpd-mod-webdav
lighttpd-mod-openssl
libexpat1-dev
apache2-utils
fonts-dejavu-core
xvfb
fonts-ipafont-gothic
libsystemd-dev
systemd
desktop-file-utils
appstream
lintian
man-db
groff-base
dpkg-dev
file
librsvg2-bin
"

missing=""
for p in $PACKAGES; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    case "$status" in
        "install ok installed") ;;
        *) missing="$missing $p" ;;
    esac
done

if [ -z "$missing" ]; then
    echo "bootstrap: all packages present"
    exit 0
fi

echo "bootstrap: installing:$missing"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
# shellcheck disable=SC2086
$SUDO apt-get install -y -q --no-install-recommends $missing
echo "bootstrap: done"
