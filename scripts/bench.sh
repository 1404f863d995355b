#!/usr/bin/env bash
# Benchmarks (make bench):
#  1. every Google Benchmark program in BUILD_DIR/bench;
#  2. the processing run of brenvo-cli on generated data directories: the
#     large generated cost-bearer directory, N good invoices in the inbox,
#     collective and single mode. For each run it reports the time of the
#     start-up alone, the time of the run itself (from "Startup beendet." to
#     the closing steps) with invoices per second, the whole wall time and
#     the peak memory. It also times the start-up alone with an invoice
#     archive of 100,000 rows.
#
#   scripts/bench.sh BUILD_DIR
#
# Settings (environment):
#   BENCH_DIR           where the data directories are made (default
#                       BUILD_DIR/bench-daten; the disk matters: every order
#                       file is synced)
#   BENCH_COLLECTIVE    invoice counts in collective mode (default "1000 10000")
#   BENCH_SINGLE        invoice counts in single mode (default "1000 10000";
#                       single mode writes and syncs one order per invoice)
#   BENCH_STARTUP       invoice-archive rows for the start-up alone (default
#                       "100000"; the large directory beside it, an empty inbox)
#   BENCH_ONLY_RUN=1    skip the Google Benchmark programs
set -euo pipefail

BUILD=$(cd "${1:-build}" && pwd)
CLI="$BUILD/cli/brenvo-cli"
GEN_KT="$BUILD/tools/gen_ktdir"
GEN_INV="$BUILD/tools/gen_invoices"
ROOT=$(cd "$(dirname "$0")/.." && pwd)
WORK="${BENCH_DIR:-$BUILD/bench-daten}"
COLLECTIVE="${BENCH_COLLECTIVE-1000 10000}"
SINGLE="${BENCH_SINGLE-1000 10000}"
STARTUP="${BENCH_STARTUP-100000}"

for p in "$CLI" "$GEN_KT" "$GEN_INV" /usr/bin/time; do
  if [[ ! -x "$p" ]]; then echo "bench.sh: $p fehlt" >&2; exit 2; fi
done

if [[ "${BENCH_ONLY_RUN:-0}" != 1 && -d "$BUILD/bench" ]]; then
  for b in "$BUILD"/bench/bench_*; do
    [[ -x "$b" && -f "$b" ]] || continue
    printf '\n==== %s ====\n' "$(basename "$b")"
    "$b"
  done
fi

printf '\n==== Verarbeitungslauf brenvo-cli verarbeiten ====\n'
echo "Rechner: $(nproc) Kerne, Last $(cut -d' ' -f1-3 /proc/loadavg), Datenverzeichnisse unter $WORK"

# One template: settings and empty archives of the demo, the large directory.
rm -rf "$WORK"
mkdir -p "$WORK/vorlage/Stammdaten"
for f in brenvo.XML Auftraege.xml eingabe_vorlage.xml; do
  cp "$ROOT/demo/Stammdaten/$f" "$WORK/vorlage/Stammdaten/"
done
# An invoice archive without rows: the demo's, emptied of its one row.
sed '/<ROW /d' "$ROOT/demo/Stammdaten/Rechnungen.xml" > "$WORK/vorlage/Stammdaten/Rechnungen.xml"
"$GEN_KT" "$WORK/vorlage/Stammdaten" >/dev/null

# run MODE N: one measured run; prints one result line.
run() {
  local mode=$1 n=$2
  local dir="$WORK/lauf-$mode-$n"
  rm -rf "$dir"
  cp -r "$WORK/vorlage" "$dir"
  "$GEN_INV" "$dir" "$n" >/dev/null
  local flag=F
  [[ $mode == sammel ]] && flag=T
  sed -i "s/KEY=\"SYST_ZUSF\" VALUE=\"[TF]\"/KEY=\"SYST_ZUSF\" VALUE=\"$flag\"/" "$dir/Stammdaten/brenvo.XML"
  sync

  local t0 t1="" t2="" t3 line rc
  t0=$EPOCHREALTIME
  set +e
  /usr/bin/time -f '%M %U %S' -o "$dir/time.txt" "$CLI" -d "$dir" verarbeiten |
    while IFS= read -r line; do
      case $line in
        "Startup beendet.") echo "start $EPOCHREALTIME" ;;
        "Init Rechnungen speichern ... ") echo "lauf $EPOCHREALTIME" ;;
      esac
    done > "$dir/zeiten.txt"
  rc=${PIPESTATUS[0]}
  set -e
  t3=$EPOCHREALTIME
  t1=$(awk '$1=="start"{print $2; exit}' "$dir/zeiten.txt")
  t2=$(awk '$1=="lauf"{print $2; exit}' "$dir/zeiten.txt")
  local archived kb user sys
  archived=$(find "$dir/ArchivR" -maxdepth 1 -type f | wc -l)
  read -r kb user sys < <(tail -n 1 "$dir/time.txt")
  awk -v mode="$mode" -v n="$n" -v t0="$t0" -v t1="$t1" -v t2="$t2" -v t3="$t3" -v rc="$rc" \
      -v kb="$kb" -v cpu="$(awk -v u="$user" -v s="$sys" 'BEGIN{print u + s}')" -v archived="$archived" 'BEGIN {
    run = t2 - t1
    printf "%-8s %6d Rechnungen: Start %.2f s, Lauf %.2f s = %.0f Rechnungen/s, gesamt %.2f s (CPU %.2f s), Speicher %.0f MB, archiviert %d, Rückgabewert %d\n",
           mode, n, t1 - t0, run, (run > 0 ? n / run : 0), t3 - t0, cpu, kb / 1024, archived, rc
  }'
}

# startup ROWS: the start-up alone (an empty inbox) with an invoice archive
# of ROWS rows beside the large directory; prints one result line.
startup() {
  local rows=$1
  local dir="$WORK/start-$rows"
  rm -rf "$dir"
  cp -r "$WORK/vorlage" "$dir"
  local archive="$dir/Stammdaten/Rechnungen.xml"
  sed '/<\/ROWDATA>/,$d' "$WORK/vorlage/Stammdaten/Rechnungen.xml" > "$archive.neu"
  awk -v n="$rows" 'BEGIN {
    for (i = 1; i <= n; i++)
      printf "    <ROW R_ID=\"%d\" R_NUMMER=\"A%07d\" R_DATUM=\"2025%02d%02dT00:00:00000\" R_BETRAG=\"%d.%02d\" R_FILENAME=\"A%07d.xml\" R_HANDLE=\"1010006%02d_2025%02d%02d_0930%05d\"/>\n",
             i, i, i % 12 + 1, i % 28 + 1, 20 + i % 300, i % 100, i, i % 40, i % 12 + 1, i % 28 + 1, i % 1000
  }' >> "$archive.neu"
  printf '  </ROWDATA>\n</DATAPACKET>\n' >> "$archive.neu"
  mv "$archive.neu" "$archive"
  sync
  local t0 t1 line
  t0=$EPOCHREALTIME
  /usr/bin/time -f '%M %U %S' -o "$dir/time.txt" "$CLI" -d "$dir" verarbeiten |
    while IFS= read -r line; do
      if [[ $line == "Startup beendet." ]]; then echo "$EPOCHREALTIME"; fi
    done > "$dir/zeiten.txt"
  t1=$(head -n 1 "$dir/zeiten.txt")
  local kb user sys
  read -r kb user sys < <(tail -n 1 "$dir/time.txt")
  awk -v rows="$rows" -v t0="$t0" -v t1="$t1" -v kb="$kb" 'BEGIN {
    printf "start    Rechnungsarchiv mit %d Zeilen: Start %.3f s, Speicher %.0f MB\n", rows, t1 - t0, kb / 1024
  }'
}

for n in $STARTUP; do startup "$n"; done
for n in $COLLECTIVE; do run sammel "$n"; done
for n in $SINGLE; do run einzeln "$n"; done
