#!/usr/bin/env bash
# Side-by-side timings of `varnel convert` at scale:
#   heavy  - empty rules on image-heavy files (about 8 MB, 16 uncompressed Type-14 images each)
#            against `cp -r` of the same folder
#   small  - empty rules on about 50 KB files against `cp -r`
#   wsq    - WSQ recompression of 500x500 prints, --jobs 1 against --jobs 2
#   memory - peak RSS of a run over 2,000, 20,000 and 100,000 tiny files, --jobs 1 and 2 (median
#            and range of REPEATS runs), and the growth per file
# Against cp, the runs are interleaved (cp, --jobs 1, all cores, REPEATS times), because the
# time the system spends writing files swings from one moment to the next by more than the
# difference measured: each round gives a ratio to the cp run beside it, and the median and
# range of those ratios are printed, with the CPU time (user + system) of each command and,
# when strace is installed, the system calls per file of one more run.
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

# Wall seconds of one run of the command (output discarded); the peak RSS (KB) goes to
# $work/rss and the CPU seconds (user + system) to $work/cpu.
once() {
  local start end rss user sys
  start=$(date +%s.%N)
  /usr/bin/time -f "%M %U %S" -o "$work/time" "$@" > /dev/null
  end=$(date +%s.%N)
  read -r rss user sys < "$work/time"
  echo "$rss" > "$work/rss"
  echo "$user + $sys" | bc -l > "$work/cpu"
  echo "$end - $start" | bc -l
}

# "median min max" of the numbers on standard input.
spread() {
  sort -g | awk '{ t[NR] = $1 } END {
    m = (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
    printf "%.3f %.3f %.3f\n", m, t[1], t[NR] }'
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
  printf '%s\n' "${times[@]}" | spread
}

# Untimed between runs; sync so that writing back the last run's files does not share the CPU
# with the next run. A run's outputs are moved aside rather than deleted: ext4 passes over
# inodes freed in the last 30 to 60 seconds when it allocates new ones, so that creating
# thousands of files just after deleting as many costs several times more, for cp as for
# varnel, and by an amount that changes from second to second. They are deleted only when they
# pass $keep_bytes, together.
keep_bytes=$((5 * 1024 * 1024 * 1024))
kept=0
set_aside() {
  [ -e "$work/out" ] || return 0
  if ((kept > keep_bytes)); then rm -rf "$work/aside"; kept=0; fi
  mkdir -p "$work/aside"
  mv "$work/out" "$(mktemp -d -p "$work/aside")/"
  kept=$((kept + src_bytes))
}
fresh() { set_aside && mkdir -p "$work/out" && sync; }
nocopy() { set_aside && sync; }

row() {  # label, "median min max"
  read -r med lo hi <<< "$2"
  printf '%-34s median %7.3f s  (min %7.3f, max %7.3f)\n' "$1" "$med" "$lo" "$hi"
}

ratio() { echo "$1 / $2" | bc -l | xargs printf '%.3f'; }

# System calls per file of one run of the command over `count` files (strace -f -c).
syscalls() {
  local count=$1; shift
  command -v strace > /dev/null || { echo "n/a"; return; }
  strace -f -c -o "$work/strace" "$@" > /dev/null
  awk -v n="$count" '$NF == "total" { printf "%.1f", $(NF - 2) / n }' "$work/strace"
}

versus_cp() {  # number of files
  src_bytes=$(du -sb "$work/src" | cut -f1)
  find "$work/src" -type f -exec cat {} + > /dev/null  # warm the page cache
  local one=("$varnel" convert --quiet --jobs 1 --source "$work/src" --dest "$work/out" --rules "$work/empty.ntx")
  local all=("$varnel" convert --quiet --source "$work/src" --dest "$work/out" --rules "$work/empty.ntx")
  local cp_w=() one_w=() all_w=() cp_c=() one_c=() all_c=() one_r=() all_r=() t c
  for ((i = 0; i < repeats; i++)); do
    nocopy; t=$(once cp -r "$work/src" "$work/out"); cp_w+=("$t"); c=$t; cp_c+=("$(cat "$work/cpu")")
    fresh; t=$(once "${one[@]}"); one_w+=("$t"); one_c+=("$(cat "$work/cpu")"); one_r+=("$(ratio "$t" "$c")")
    fresh; t=$(once "${all[@]}"); all_w+=("$t"); all_c+=("$(cat "$work/cpu")"); all_r+=("$(ratio "$t" "$c")")
  done
  row "cp -r" "$(printf '%s\n' "${cp_w[@]}" | spread)"
  row "varnel, empty rules, --jobs 1" "$(printf '%s\n' "${one_w[@]}" | spread)"
  row "varnel, empty rules, all cores" "$(printf '%s\n' "${all_w[@]}" | spread)"
  row "CPU time, cp -r" "$(printf '%s\n' "${cp_c[@]}" | spread)"
  row "CPU time, --jobs 1" "$(printf '%s\n' "${one_c[@]}" | spread)"
  row "CPU time, all cores" "$(printf '%s\n' "${all_c[@]}" | spread)"
  read -r med lo hi < <(printf '%s\n' "${one_r[@]}" | spread)
  printf 'ratio to the cp -r beside it, --jobs 1:   median %.2f (min %.2f, max %.2f)\n' "$med" "$lo" "$hi"
  read -r med lo hi < <(printf '%s\n' "${all_r[@]}" | spread)
  printf 'ratio to the cp -r beside it, all cores: median %.2f (min %.2f, max %.2f)\n' "$med" "$lo" "$hi"
  nocopy
  echo "system calls per file: cp -r $(syscalls "$1" cp -r "$work/src" "$work/out")," \
    "--jobs 1 $(fresh; syscalls "$1" "${one[@]}"), all cores $(fresh; syscalls "$1" "${all[@]}")"
}

src_bytes=0
for s in $scenarios; do
  if [ -e "$work/src" ]; then mkdir -p "$work/aside" && mv "$work/src" "$(mktemp -d -p "$work/aside")/"; fi
  case $s in
    heavy)
      "$gen" --out "$work/src" --count 50 --type2-fields 5 --type14 16 --type14-size 700x700 > /dev/null
      echo "== heavy: 50 files, $(du -sh "$work/src" | cut -f1), $repeats rounds"
      versus_cp 50
      ;;
    small)
      "$gen" --out "$work/src" --count 2000 --type2-fields 20 --type9 1 --type14 1 --type14-size 220x220 > /dev/null
      echo "== small: 2000 files, $(du -sh "$work/src" | cut -f1), $repeats rounds"
      versus_cp 2000
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
