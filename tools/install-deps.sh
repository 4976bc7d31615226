#!/bin/bash
# Installs the Debian packages the build and the tests need, when missing.
# Runs apt-get through sudo when not root. Safe to run again: it installs
# nothing that is already there.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev sqlite3
  libpq-dev postgresql pgbouncer
  qt6-base-dev qt6-tools-dev qt6-l10n-tools libqt6opengl6-dev libgl-dev xvfb xauth
  clang libclang-rt-14-dev clang-format
  python3 locales groff-base bsdextrautils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing Debian packages: ${missing[*]}" >&2
sudo=""
if [ "$(id -u)" != 0 ]; then
  if command -v sudo >/dev/null; then sudo="sudo"; else
    echo "error: these packages are missing and you are not root (and sudo is not installed): ${missing[*]}" >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
