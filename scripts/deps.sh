#!/bin/sh
# Installs the Debian packages the build and the tests need (only what is missing).
# wine32 runs the release build (i686) under Wine: it needs the i386 architecture.
set -e
PKGS="cmake make g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-win32 g++-mingw-w64-i686-posix
      binutils-mingw-w64 libz-mingw-w64-dev googletest wine wine64 wine32:i386 xvfb xauth wixl
      imagemagick python3 zlib1g-dev osslsigncode openssl"
missing=""
for p in $PKGS; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    SUDO=""; [ "$(id -u)" = 0 ] || SUDO=sudo
    case "$missing" in
        *:i386*) dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386 ;;
    esac
    $SUDO apt-get update -qq
    # With the recommended packages, as the tests were measured (Wine's fonts among them).
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing
fi
