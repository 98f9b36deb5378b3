#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian machine. Safe to run again.
set -euo pipefail

packages=(
  cmake make
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  wine wine32:i386
  xvfb xauth
  googletest
  chromium fonts-dejavu-core
  nodejs
)

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
missing=()
have_i386=0
dpkg --print-foreign-architectures | grep -qx i386 && have_i386=1
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  [ "$have_i386" -eq 1 ] || $SUDO dpkg --add-architecture i386
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Debian's nodejs comes without npm; a Node.js from elsewhere usually brings its own.
if ! command -v npm >/dev/null; then
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends npm
fi

# The page tests' npm package (playwright-core), from tests/page/package-lock.json.
bash "$(dirname "$0")/install-page-test-deps.sh"
