#!/bin/bash
# Prepares a Debian 12 machine for building and testing vurodetect: compilers, GoogleTest,
# MinGW-w64, Wine for 64-bit and 32-bit Windows programs, and the Japanese locale that the
# code-page tests run under. Run it as root. It does only what is missing, says nothing when
# nothing is, and stops with a message at the first step that fails.
set -euo pipefail

readonly self=${0##*/}

# Packages, by what needs them. Those of the i386 architecture carry it in their name.
readonly packages=(
  # Native build and unit tests.
  cmake g++ make googletest libgtest-dev libgmock-dev
  # Windows builds and running them under Wine. Without the preloaders wine64 cannot map the
  # shared user data; qemu-user runs the 32-bit Wine loader where the kernel has no ia32 support.
  mingw-w64 wine wine64 wine64-preloader wine32:i386 wine32-preloader:i386 qemu-user
  # The Japanese locale, which gives Wine its double-byte ANSI code page 932.
  locales
  # Sanitizer and fuzzing builds, memory checks and benchmarks.
  clang libclang-rt-14-dev valgrind libbenchmark-dev
)
readonly japanese_locale="ja_JP.UTF-8 UTF-8"
readonly i386_libc=/lib/i386-linux-gnu/libc.so.6
readonly binfmt_dir=/proc/sys/fs/binfmt_misc
readonly qemu_i386=/usr/bin/qemu-i386
# Matches the ELF header of a 32-bit little-endian x86 executable or shared object; binfmt_misc
# decodes the \x escapes itself.
readonly qemu_i386_rule=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:F'

log=$(mktemp)
trap 'rm -f "$log"' EXIT

say() { echo "$self: $*"; }

die() {
  echo "$self: error: $*" >&2
  exit 1
}

# Runs a command with its output held back, and shows that output only when the command fails.
run_quietly() {
  if ! "$@" >"$log" 2>&1; then
    cat "$log" >&2
    die "failed: $*"
  fi
}

need_root() {
  [[ $EUID -eq 0 ]] || die "must run as root to $1"
}

is_installed() {
  dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null | grep -q '^ii'
}

check_system() {
  [[ -r /etc/debian_version ]] || die "this script is written for Debian 12"
  { command -v dpkg && command -v apt-get; } >/dev/null || die "dpkg and apt-get are needed"
}

# wine32 and its preloader come from the i386 architecture.
ensure_i386_architecture() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    need_root "add the i386 architecture"
    say "adding the i386 architecture"
    run_quietly dpkg --add-architecture i386
    architecture_added=1
  fi
}

ensure_packages() {
  local missing=()
  local package
  for package in "${packages[@]}"; do
    is_installed "$package" || missing+=("$package")
  done
  if [[ ${#missing[@]} -eq 0 && $architecture_added -eq 0 ]]; then
    return
  fi
  need_root "install packages"
  say "updating the package lists"
  run_quietly apt-get update -q
  if [[ ${#missing[@]} -gt 0 ]]; then
    say "installing ${missing[*]}"
    run_quietly env DEBIAN_FRONTEND=noninteractive apt-get install -q -y --no-install-recommends \
      "${missing[@]}"
    for package in "${missing[@]}"; do
      is_installed "$package" || die "$package is still not installed"
    done
  fi
}

# Where the kernel cannot run 32-bit x86 programs itself, qemu runs them on its behalf.
ensure_i386_programs_run() {
  [[ -e $i386_libc ]] || die "$i386_libc is missing although wine32 is installed"
  if "$i386_libc" >/dev/null 2>&1; then
    return
  fi
  need_root "register qemu for 32-bit programs"
  [[ -x $qemu_i386 ]] || die "$qemu_i386 is missing although qemu-user is installed"
  if [[ ! -e $binfmt_dir/register ]]; then
    say "mounting binfmt_misc"
    run_quietly mount -t binfmt_misc binfmt_misc "$binfmt_dir"
  fi
  if [[ ! -e $binfmt_dir/qemu-i386 ]]; then
    say "registering $qemu_i386 for 32-bit x86 programs"
    printf '%s' "$qemu_i386_rule" >"$binfmt_dir/register" ||
      die "could not register qemu-i386 with binfmt_misc"
  elif ! grep -qx enabled "$binfmt_dir/qemu-i386"; then
    say "enabling the qemu-i386 registration"
    echo 1 >"$binfmt_dir/qemu-i386" || die "could not enable the qemu-i386 registration"
  fi
  "$i386_libc" >/dev/null 2>&1 || die "32-bit x86 programs still do not run"
}

ensure_japanese_locale() {
  if locale -a 2>/dev/null | grep -qix 'ja_JP\.utf-\?8'; then
    return
  fi
  need_root "generate the $japanese_locale locale"
  say "generating the ja_JP.UTF-8 locale"
  if ! grep -qx "$japanese_locale" /etc/locale.gen 2>/dev/null; then
    echo "$japanese_locale" >>/etc/locale.gen
  fi
  run_quietly locale-gen
  locale -a | grep -qix 'ja_JP\.utf-\?8' || die "the ja_JP.UTF-8 locale is still missing"
}

architecture_added=0
check_system
ensure_i386_architecture
ensure_packages
ensure_i386_programs_run
ensure_japanese_locale
