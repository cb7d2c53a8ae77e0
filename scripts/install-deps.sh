#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need, from Debian's
# packages only. Idempotent: packages already present are left alone, so a
# second run does nothing but check.
set -euo pipefail

packages=(
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64
  cmake make g++ python3
  wine wine64 wine32:i386
  xvfb xauth x11-utils imagemagick fonts-ipafont-gothic locales
  googletest
  dovecot-core dovecot-pop3d iproute2 nftables
  clang libclang-rt-14-dev
  zip openssl
  fetchmail
)

# The shipped program is 32-bit; Wine starts it with its 32-bit loader
# (wine32), from Debian's i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi

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

# A kernel without 32-bit support cannot run that loader itself ("Exec
# format error"): then qemu's user emulation runs it, registered for i386
# programs through binfmt_misc. Debian registers no i386 entry on an amd64
# host, so it is written here; the F flag opens the emulator once, at
# registration, so that it serves every mount and private namespace too.
runs_32bit() { /usr/lib/wine/wine --version >/dev/null 2>&1; }
if ! runs_32bit; then
  echo "32-bit programs do not run here: registering qemu-i386 for them"
  if ! dpkg-query -W -f='${Status}' qemu-user-static 2>/dev/null | grep -q 'install ok installed'; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends qemu-user-static >/dev/null
  fi
  binfmt=/proc/sys/fs/binfmt_misc
  entry=qemu-i386
  mountpoint -q $binfmt || mount -t binfmt_misc binfmt_misc $binfmt
  # An entry that is there but did not help (disabled, or opened another
  # emulator) is replaced.
  if [ -e $binfmt/$entry ]; then echo -1 > $binfmt/$entry; fi
  printf '%s' ":$entry"':M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
    > $binfmt/register
  if ! runs_32bit; then
    echo "install-deps: 32-bit programs do not run, even under qemu-i386" >&2
    exit 1
  fi
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
