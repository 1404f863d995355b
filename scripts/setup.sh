#!/usr/bin/env bash
# Installs every Debian package this project needs to build, test and run,
# but only the ones that are missing. Runs as root or through sudo.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libpugixml-dev libzip-dev libcurl4-openssl-dev
  unixodbc unixodbc-dev odbc-mdbtools libsqliteodbc
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev
  python3 python3-aiosmtpd python3-pyftpdlib
  zip unzip
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installiere fehlende Pakete: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
