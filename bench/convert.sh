#!/usr/bin/env bash
# Times `varnel convert` on a folder of small transactions against `cp -r` of the same folder:
# with no rules, and with ten field rules. Prints wall times, ratios and peak memory.
# Usage: bench/convert.sh [BUILD_DIR] [COUNT]   (BUILD_DIR holds cli/varnel and samples/varnel-gen)
set -euo pipefail

build=${1:-build}
count=${2:-2000}
varnel="$build/cli/varnel"
gen="$build/samples/varnel-gen"
[ -x "$varnel" ] && [ -x "$gen" ] || { echo "build the varnel and varnel-gen targets in $build first" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# About 50 KB each: one Type-2 record with 20 fields, one 220x220 Type-14 image, one Type-9.
"$gen" --out "$work/src" --count "$count" --type2-fields 20 --type9 1 --type14 1 --type14-size 220x220
echo "files: $count, total $(du -sh "$work/src" | cut -f1)"

: > "$work/empty.ntx"
cat > "$work/ten.ntx" <<'RULES'
Add Field|2.050|%FILENAME%|||
Add Field If Missing|2.051|X|||
Copy Field|2.018|2.052|||
Replace Strings|2.052|,|;|
String Left|2.052|5|||
Remove Invalid Characters|2.005|AEIOU|||
Add Field|14.020|%FGP%-%IMP%|||
Delete Field|2.006|||||
Move Field|2.007|2.053|||
Output to CSV|TCN|%TCN%|||
RULES

seconds() { date +%s.%N; }
run_timed() {  # label, command...
  local label=$1; shift
  local start end
  start=$(seconds)
  /usr/bin/time -f "%M" -o "$work/rss" "$@" > /dev/null
  end=$(seconds)
  elapsed=$(echo "$end - $start" | bc -l)
  printf '%-28s %8.3f s   peak RSS %6d KB\n' "$label" "$elapsed" "$(cat "$work/rss")"
}

cp -r "$work/src" "$work/warm" && rm -rf "$work/warm"  # warm the page cache
run_timed "cp -r" cp -r "$work/src" "$work/copy"
cp_time=$elapsed
mkdir -p "$work/out1" "$work/out2"
run_timed "varnel, no rules" "$varnel" convert --quiet --source "$work/src" --dest "$work/out1" --rules "$work/empty.ntx"
empty_time=$elapsed
run_timed "varnel, ten field rules" "$varnel" convert --quiet --source "$work/src" --dest "$work/out2" --rules "$work/ten.ntx"
ten_time=$elapsed
printf 'ratio no rules / cp -r:  %.2f\nratio ten rules / cp -r: %.2f\n' \
  "$(echo "$empty_time / $cp_time" | bc -l)" "$(echo "$ten_time / $cp_time" | bc -l)"
