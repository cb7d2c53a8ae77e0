#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need, from Debian's
# packages only. Idempotent: packages already present are left alone, so a
# second run does nothing but check.
set -euo pipefail

packages=(
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64
  cmake make g++ python3
  wine wine64
  xvfb xauth x11-utils imagemagick fonts-ipafont-gothic locales
  googletest
  dovecot-core dovecot-pop3d iproute2 nftables
  clang libclang-rt-14-dev
  zip openssl
  fetchmail
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine's ANSI code page follows the locale; ja_JP.UTF-8 gives code page 932.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi

# Dovecot is started by the tests with a configuration of their own; the
# packaged service is not needed and would hold port 110 of the host.
if command -v systemctl >/dev/null 2>&1 && systemctl is-active --quiet dovecot 2>/dev/null; then
  systemctl stop dovecot || true
fi
exit 0
