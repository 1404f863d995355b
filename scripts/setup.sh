#!/usr/bin/env bash
# Installs every Debian package this project needs to build, test and run,
# but only the ones that are missing. Runs as root or through sudo.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libpugixml-dev libzip-dev libcurl4-openssl-dev libssl-dev openssl
  unixodbc unixodbc-dev odbc-mdbtools libsqliteodbc
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-qpa-plugins qt6-translations-l10n fonts-liberation poppler-utils
  python3 python3-aiosmtpd python3-pyftpdlib
  zip unzip
  time
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installiere fehlende Pakete: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# DAKOTA's protocol is an Access database file, opened through the ODBC
# driver of that name: mdbtools' driver is registered under it in the
# system's odbcinst.ini (once; a second run finds it there).
access_driver="Microsoft Access Driver (*.mdb)"
if ! env -u ODBCSYSINI -u ODBCINSTINI odbcinst -q -d -n "$access_driver" >/dev/null 2>&1; then
  mdb_lib=$(dpkg -L odbc-mdbtools 2>/dev/null | grep -E '/libmdbodbc\.so$' | head -n 1 || true)
  if [ -z "$mdb_lib" ]; then
    echo "ODBC-Treiber von mdbtools (libmdbodbc.so) nicht gefunden." >&2
    exit 1
  fi
  template=$(mktemp)
  printf '[%s]\nDescription=MDB Tools ODBC driver for Access database files\nDriver=%s\nSetup=%s\nFileUsage=1\n' \
    "$access_driver" "$mdb_lib" "$mdb_lib" > "$template"
  echo "Registriere ODBC-Treiber: $access_driver"
  $SUDO env -u ODBCSYSINI -u ODBCINSTINI odbcinst -i -d -f "$template" >/dev/null
  rm -f "$template"
fi
