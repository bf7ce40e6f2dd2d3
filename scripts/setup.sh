#!/usr/bin/env bash
# Installs what building and testing the launcher needs on a Debian machine (run as root).
# Idempotent: packages already there are left alone, and apt is only asked when one is missing.
#
#   scripts/setup.sh
set -euo pipefail
# shellcheck source=tools/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../tools/lib.sh"
tessaro_args "$@"
[[ $# -eq 0 ]] || tessaro_usage_error "takes no arguments"

packages=(
  cmake ninja-build g++ googletest libgtest-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine64 xvfb xauth imagemagick fonts-ipafont-gothic
  # The 32-bit rig (tools/wine/rig32.sh) starts from a Debian made by it.
  debootstrap
  # The medium as a disc image: made and read (never mounted) by xorriso.
  xorriso
  wixl msitools
  # Signing a medium: bookworm's osslsigncode 2.5 has all that the medium tool asks of it; a key
  # on a token through OpenSSL's PKCS#11 engine, proven with a SoftHSM2 token that the tests fill
  # with OpenSC's pkcs11-tool.
  osslsigncode openssl libengine-pkcs11-openssl softhsm2 opensc
  clang libclang-rt-14-dev clang-format cppcheck python3 locales
  # The lint stages, and the one PE reader (tools/release/pe.py) of the release tools and the checks.
  shellcheck pyflakes3 python3-pefile
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if [[ ${#missing[@]} -ne 0 ]]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The Japanese runs need the locale itself: without it Wine falls back to ASCII for Unix file
# names and cannot make a folder with a Japanese name.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
  echo "setup: generating the ja_JP.UTF-8 locale"
  sed -i -E 's/^# *(ja_JP.UTF-8 UTF-8)/\1/' /etc/locale.gen
  grep -qx 'ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >>/etc/locale.gen
  locale-gen >/dev/null
fi
