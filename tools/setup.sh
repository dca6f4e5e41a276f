#!/usr/bin/env bash
# Installs what the build and the tests need and is missing, and makes sure 32-bit x86
# programs run: the shipped stub is 32-bit, and so is the Wine that runs it. Idempotent:
# when everything is present it changes nothing and needs no privileges.
set -euo pipefail

packages=(
  cmake make g++ python3 zlib1g-dev libgtest-dev libbenchmark-dev
  libcli11-dev libdeflate-dev liblzma-dev libssl-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64
  wine wine32:i386 wine64 xvfb xauth locales
  python3-pefile icoutils osslsigncode openssl
  zip unzip 7zip time imagemagick
  dpkg-dev lintian
)

# A complete static i386 Linux program that only exits with code 0: whether it runs says
# whether this kernel runs 32-bit x86 programs, natively or through a registered emulator.
I386_EXIT0='\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000'\
'\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001'\
'\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010'\
'\135\000\000\000\135\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\061\333'\
'\315\200'

BINFMT=/proc/sys/fs/binfmt_misc
QEMU_I386=/usr/bin/qemu-i386-static
# The i386 ELF header (little-endian, executable or shared object, machine 3); the mask
# ignores the ABI version and padding, as the emulator's own registrations do.
I386_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
I386_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

runs_i386() {
  local probe status=0
  probe=$(mktemp)
  printf "$I386_EXIT0" > "$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null || status=$?
  rm -f "$probe"
  return "$status"
}

# F: the kernel opens the emulator when it is registered, so it serves every later start
# whatever that process sees of the file system.
register_qemu_i386() {
  if [ ! -e "$BINFMT/register" ] &&
     ! mount -t binfmt_misc binfmt_misc "$BINFMT" 2>/dev/null; then
    echo "setup: this kernel runs no 32-bit x86 programs, and binfmt_misc cannot be mounted" \
         "at $BINFMT to run them through qemu-user; 32-bit Wine cannot start here" >&2
    exit 1
  fi
  if [ -e "$BINFMT/qemu-i386" ]; then
    echo -1 > "$BINFMT/qemu-i386"   # a stale or disabled entry of an earlier set-up
  fi
  echo "setup: running 32-bit x86 programs through $QEMU_I386"
  echo ":qemu-i386:M::$I386_MAGIC:$I386_MASK:$QEMU_I386:F" > "$BINFMT/register"
}

need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: run as root (or $1) first" >&2
    exit 1
  fi
}

i386_native=yes
runs_i386 || i386_native=no
[ "$i386_native" = yes ] || packages+=(qemu-user-static)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = installed ] || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  need_root "install the packages above"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  if [ "$i386_native" = no ]; then
    # Before the i386 packages, whose installation scripts run i386 programs.
    apt-get install -y -qq qemu-user-static
    register_qemu_i386
  fi
  apt-get install -y -qq "${missing[@]}"
elif [ "$i386_native" = no ]; then
  need_root "register qemu-user for 32-bit x86 programs"
  register_qemu_i386
fi

if ! runs_i386; then
  echo "setup: 32-bit x86 programs still do not run here (see $BINFMT/qemu-i386)" >&2
  exit 1
fi
