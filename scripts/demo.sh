#!/usr/bin/env bash
# The demo: copies the demo installation (demo/) fresh into the build tree,
# runs the processing run on it with brenvo-cli and shows what a user would
# look at afterwards: the run's log, the inbox, the files of the new orders
# in "ArchivA", the first billing file and its accompanying slip.
#
#   scripts/demo.sh BUILD_DIR
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-build}" && pwd)
CLI="$BUILD/cli/brenvo-cli"
DATA="$BUILD/demo"

if [[ ! -x "$CLI" ]]; then
  echo "demo.sh: $CLI fehlt - erst bauen (make build)" >&2
  exit 2
fi

# Billing files and slips are windows-1252 with CR LF line ends.
show_cp1252() { iconv -f WINDOWS-1252 -t UTF-8 "$1" | tr -d '\r'; }
if [[ -t 1 ]]; then bold=$'\033[1m'; plain=$'\033[0m'; else bold=; plain=; fi
section() { printf '\n%s==== %s ====%s\n' "$bold" "$1" "$plain"; }

rm -rf "$DATA"
cp -r "$ROOT/demo" "$DATA"

section "brenvo-cli -d $DATA verarbeiten"
set +e
"$CLI" -d "$DATA" verarbeiten
rc=$?
set -e
case $rc in
  0) echo "Rückgabewert 0: alle Rechnungen verarbeitet" ;;
  1) echo "Rückgabewert 1: Rechnungen als fehlerhaft markiert (so gewollt: die Demo enthält zwei)" ;;
  *) echo "Rückgabewert $rc: Programmstart fehlgeschlagen" >&2; exit "$rc" ;;
esac

log=$(ls -1 "$DATA/Logs"/*.log | sort | tail -n 1)
section "Protokoll der Verarbeitung: Logs/$(basename "$log")"
cat "$log"

section "Eingangskorb (import) nach dem Lauf"
ls -1 "$DATA/import"

section "Rechnungsarchiv (ArchivR)"
ls -1 "$DATA/ArchivR"

section "Auftragsarchiv (ArchivA): die Dateien der neuen Aufträge"
ls -l "$DATA/ArchivA"

first=$(find "$DATA/ArchivA" -maxdepth 1 -type f ! -name '*.*' -printf '%f\n' | sort | head -n 1)
if [[ -z "$first" ]]; then
  echo "Kein Auftrag geschrieben." >&2
  exit 1
fi

section "Erste Abrechnungsdatei (Nutzdaten): ArchivA/$first"
show_cp1252 "$DATA/ArchivA/$first"

section "Der Begleitzettel dazu: ArchivA/$first.BGL"
show_cp1252 "$DATA/ArchivA/$first.BGL"

section "Auftragssatz (348 Zeichen): ArchivA/$first.AUF"
show_cp1252 "$DATA/ArchivA/$first.AUF"
echo

printf '\nDie Demo-Installation liegt in %s; ein weiterer Lauf: %s -d %s verarbeiten\n' "$DATA" "$CLI" "$DATA"
