#!/usr/bin/env bash
# Usage: tests/cluster/run.sh [BUILD_DIR]
# Converts one generated folder three ways and checks that they agree: one run over the whole
# folder, three shards under GNU parallel merged with `varnel report merge`, and three shards as
# a Slurm array job on a local single-node cluster with the merge as a dependent job. The
# outputs, results.csv and the report rows and counts (times aside) must equal the single run's.
# Starts the Slurm daemons when none run (scripts/cluster-local, as root) and stops what it
# started. Fails loudly on the first difference.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
varnel=$build/cli/varnel
gen=$build/samples/varnel-gen
for tool in "$varnel" "$gen"; do [ -x "$tool" ] || { echo "FAIL: $tool is not built"; exit 1; }; done
for cmd in parallel sbatch perl; do
  command -v "$cmd" > /dev/null || { echo "FAIL: $cmd is missing (scripts/install-deps)"; exit 1; }
done

work=$(mktemp -d /tmp/varnel-cluster.XXXXXX)
started_cluster=0
cleanup() {
  if [ "$started_cluster" -eq 1 ]; then bash "$root/scripts/cluster-local" stop || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

src=$work/source rules=$root/samples/rules/demo.ntx
mkdir -p "$src" "$work/single" "$work/parallel" "$work/slurm"
"$gen" --out "$src" --count 40 --prefix gen --type14 2 --type14-size 120x120 --type10 1 > /dev/null
cp "$root"/samples/transactions/* "$src/"  # real-world files and a damaged one

# A shard that converted every file exits 0, or 1 when some file had error rows.
convert() { "$varnel" convert --source "$src" --rules "$rules" --quiet "$@" > /dev/null || [ $? -eq 1 ]; }

rows() { perl -0777 -ne 'print $1 if /MessageTableHeader">Message<\/th><\/tr>(.*)$/s' "$1"; }
counts() {
  perl -0777 -ne 'print "$1 $2\n" if /(\d+ processed of \d+)<br\/>.*?(Errors: \d+<br\/>Warning: \d+<br\/>Messages: \d+)/s' "$1"
}
outputs() {
  (cd "$1" && find . -type f ! -name 'VarnelReport*' ! -name 'results*' -exec md5sum {} + | sort -k2)
}
merged_report() { find "$1" -maxdepth 1 -name 'VarnelReport_*.html' ! -name '*_shard-*'; }
compare() {  # $1: destination of a sharded run, $2: what ran it
  local single merged
  single=$(merged_report "$work/single") merged=$(merged_report "$1")
  [ "$(echo "$merged" | wc -w)" -eq 1 ] || fail "$2: expected one merged report, found: $merged"
  diff <(outputs "$work/single") <(outputs "$1") > /dev/null || fail "$2: outputs differ"
  cmp -s "$work/single/results.csv" "$1/results.csv" || fail "$2: results.csv differs"
  [ -n "$(rows "$single")" ] || fail "single run: no report rows"
  cmp -s <(rows "$single") <(rows "$merged") || fail "$2: report rows differ"
  [ "$(counts "$single")" = "$(counts "$merged")" ] ||
    fail "$2: counts differ: '$(counts "$single")' vs '$(counts "$merged")'"
  [ -z "$(find "$1" -maxdepth 1 -name '*shard*')" ] || fail "$2: --remove-shards left shard files"
  echo "$2: $(outputs "$1" | wc -l) outputs, results.csv, report rows and counts equal the single run"
}
start=$(date +%s)

convert --dest "$work/single"
[ -s "$work/single/results.csv" ] || fail "the single run wrote no results.csv"

parallel --will-cite --halt now,fail=1 \
  "'$varnel' convert --source '$src' --dest '$work/parallel' --rules '$rules' --quiet --shard {}/3 > /dev/null || [ \$? -eq 1 ]" \
  ::: $(seq 3)
"$varnel" report merge "$work/parallel" --remove-shards > /dev/null || [ $? -eq 1 ] ||
  fail "GNU parallel: the merge failed"
compare "$work/parallel" "GNU parallel, 3 shards"

if ! scontrol ping 2> /dev/null | grep -q UP; then
  [ "$(id -u)" -eq 0 ] || fail "no Slurm controller runs and starting one needs root"
  started_cluster=1
  bash "$root/scripts/cluster-local" start
fi
cat > "$work/shard.sh" <<EOF
#!/bin/bash
'$varnel' convert --source '$src' --dest '$work/slurm' --rules '$rules' --quiet \\
  --shard "\$SLURM_ARRAY_TASK_ID/\$SLURM_ARRAY_TASK_COUNT" || [ \$? -eq 1 ]
EOF
cat > "$work/merge.sh" <<EOF
#!/bin/bash
'$varnel' report merge '$work/slurm' --remove-shards || [ \$? -eq 1 ]
EOF
cd "$work"
job=$(timeout 120 sbatch --parsable --wait --array=1-3 --job-name=varnel-shard \
  -o "$work/shard-%a.log" "$work/shard.sh") || { cat "$work"/shard-*.log; fail "Slurm array job failed"; }
timeout 60 sbatch --wait --dependency="afterok:${job%%;*}" --kill-on-invalid-dep=yes \
  --job-name=varnel-merge -o "$work/merge.log" "$work/merge.sh" > /dev/null ||
  { cat "$work/merge.log"; fail "Slurm merge job failed"; }
compare "$work/slurm" "Slurm array job, 3 shards"
echo "cluster tests passed in $(($(date +%s) - start)) s"
