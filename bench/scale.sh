#!/usr/bin/env bash
# Side-by-side timings of `varnel convert` at scale, each repeated REPEATS times (median and
# range of wall time):
#   heavy  - empty rules on image-heavy files (about 8 MB, 16 uncompressed Type-14 images each)
#            against `cp -r` of the same folder
#   small  - empty rules on about 50 KB files against `cp -r`
#   wsq    - WSQ recompression of 500x500 prints, --jobs 1 against --jobs 2
#   memory - peak RSS of a run over 2,000, 20,000 and 100,000 tiny files, --jobs 1 and 2 (median
#            and range of REPEATS runs), and the growth per file
# Usage: bench/scale.sh [BUILD_DIR] [REPEATS] [SCENARIO...]
#   (BUILD_DIR holds cli/varnel and samples/varnel-gen; default: all scenarios)
set -euo pipefail

build=${1:-build}
repeats=${2:-5}
shift $(($# > 2 ? 2 : $#))
scenarios=${*:-heavy small wsq memory}
varnel="$build/cli/varnel"
gen="$build/samples/varnel-gen"
[ -x "$varnel" ] && [ -x "$gen" ] || { echo "build the varnel and varnel-gen targets in $build first" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
: > "$work/empty.ntx"
echo "Compress Records To WSQ|2.25||||" > "$work/wsq.ntx"

# Wall seconds of one run of the command (output discarded); the peak RSS (KB) goes to $work/rss.
once() {
  local start end
  start=$(date +%s.%N)
  /usr/bin/time -f "%M" -o "$work/rss" "$@" > /dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}

# Runs `prepare; command` REPEATS times; prints "median min max" of the command's wall time.
# `prepare` (a function name) empties the destination between runs, untimed.
timed() {
  local prepare=$1; shift
  local times=()
  for ((i = 0; i < repeats; i++)); do
    "$prepare"
    times+=("$(once "$@")")
  done
  printf '%s\n' "${times[@]}" | sort -g | awk '{ t[NR] = $1 } END {
    m = (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
    printf "%.3f %.3f %.3f\n", m, t[1], t[NR] }'
}

# Untimed between runs; sync so that writing back the last run's files does not share the CPU
# with the next run.
fresh() { rm -rf "$work/out" && mkdir -p "$work/out" && sync; }
nocopy() { rm -rf "$work/out" && sync; }

row() {  # label, "median min max"
  read -r med lo hi <<< "$2"
  printf '%-34s median %7.3f s  (min %7.3f, max %7.3f)\n' "$1" "$med" "$lo" "$hi"
}

ratio() { echo "$1 / $2" | bc -l | xargs printf '%.2f'; }

versus_cp() {  # label of the folder
  cp -r "$work/src" "$work/warm" && rm -rf "$work/warm"  # warm the page cache
  local cp_t one_t all_t
  cp_t=$(timed nocopy cp -r "$work/src" "$work/out")
  one_t=$(timed fresh "$varnel" convert --quiet --jobs 1 --source "$work/src" --dest "$work/out" --rules "$work/empty.ntx")
  all_t=$(timed fresh "$varnel" convert --quiet --source "$work/src" --dest "$work/out" --rules "$work/empty.ntx")
  row "cp -r" "$cp_t"
  row "varnel, empty rules, --jobs 1" "$one_t"
  row "varnel, empty rules, all cores" "$all_t"
  echo "ratio (medians) --jobs 1 / cp -r: $(ratio "${one_t%% *}" "${cp_t%% *}"), all cores / cp -r: $(ratio "${all_t%% *}" "${cp_t%% *}")"
}

for s in $scenarios; do
  rm -rf "$work/src"
  case $s in
    heavy)
      "$gen" --out "$work/src" --count 50 --type2-fields 5 --type14 16 --type14-size 700x700 > /dev/null
      echo "== heavy: 50 files, $(du -sh "$work/src" | cut -f1), $repeats runs"
      versus_cp
      ;;
    small)
      "$gen" --out "$work/src" --count 2000 --type2-fields 20 --type9 1 --type14 1 --type14-size 220x220 > /dev/null
      echo "== small: 2000 files, $(du -sh "$work/src" | cut -f1), $repeats runs"
      versus_cp
      ;;
    wsq)
      # Enough files that a run lasts about a second on one core: with a few dozen, process
      # start-up and the report weigh as much as the prints.
      "$gen" --out "$work/src" --count 160 --type14 4 --type14-size 500x500 > /dev/null
      echo "== wsq: 160 files of four 500x500 prints, $repeats runs"
      one_t=$(timed fresh "$varnel" convert --quiet --jobs 1 --source "$work/src" --dest "$work/out" --rules "$work/wsq.ntx")
      two_t=$(timed fresh "$varnel" convert --quiet --jobs 2 --source "$work/src" --dest "$work/out" --rules "$work/wsq.ntx")
      row "--jobs 1" "$one_t"
      row "--jobs 2" "$two_t"
      echo "speed-up (medians) --jobs 2 over --jobs 1: $(ratio "${one_t%% *}" "${two_t%% *}")"
      ;;
    memory)
      # Peak RSS per size and --jobs (median of REPEATS runs, with the range), and the growth per
      # file from the smallest folder, which stays flat when nothing is kept per file.
      declare -A rss
      sizes=(2000 20000 100000)
      for n in "${sizes[@]}"; do
        rm -rf "$work/src"
        "$gen" --out "$work/src" --count "$n" --type2-fields 2 > /dev/null
        for jobs in 1 2; do
          peaks=()
          for ((i = 0; i < repeats; i++)); do
            fresh
            once "$varnel" convert --quiet --jobs "$jobs" --source "$work/src" --dest "$work/out" \
              --rules "$work/empty.ntx" > /dev/null
            peaks+=("$(cat "$work/rss")")
          done
          read -r med lo hi < <(printf '%s\n' "${peaks[@]}" | sort -n | awk '{ t[NR] = $1 } END {
            print ((NR % 2) ? t[(NR + 1) / 2] : int((t[NR / 2] + t[NR / 2 + 1]) / 2)), t[1], t[NR] }')
          rss[$n/$jobs]=$med
          printf '== memory: %6d tiny files, --jobs %d: peak RSS median %d KB (min %d, max %d)\n' \
            "$n" "$jobs" "$med" "$lo" "$hi"
        done
      done
      for jobs in 1 2; do
        for n in "${sizes[@]:1}"; do
          echo "growth ${sizes[0]} to $n files, --jobs $jobs:" \
            "$(( (rss[$n/$jobs] - rss[${sizes[0]}/$jobs]) * 1024 / (n - sizes[0]) )) bytes per file"
        done
      done
      ;;
    *) echo "unknown scenario $s" >&2; exit 2 ;;
  esac
done
