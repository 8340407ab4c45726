#!/usr/bin/env bash
# Installs the Debian packages named on the command line that are missing,
# through sudo unless run as root. The one script that installs packages.
# Usage: install_deps.sh [--recommends] [--clang] [package...]
#   --recommends  with the packages they recommend (Wine needs its own)
#   --clang       clang and the sanitizer and libFuzzer runtimes of that very
#                 clang, which Debian packages per version (libclang-rt-N-dev)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"

recommends=--no-install-recommends
with_clang=false
while [[ ${1:-} == --* ]]; do
  case $1 in
    --recommends) recommends=--install-recommends ;;
    --clang) with_clang=true ;;
    *) echo "install_deps.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
if $with_clang; then
  "$here/install_deps.sh" clang
  set -- "$@" "libclang-rt-$(clang -dumpversion | cut -d. -f1)-dev"
fi

missing=()
for package in "$@"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null |
      grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
# Another apt run (a parallel build, a daily update) may hold the lock.
apt=($sudo env DEBIAN_FRONTEND=noninteractive apt-get
  -o DPkg::Lock::Timeout=600)
echo "Installing: ${missing[*]}"
"${apt[@]}" update -qq
"${apt[@]}" install -y -qq "$recommends" "${missing[@]}" >/dev/null
