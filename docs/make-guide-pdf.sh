#!/usr/bin/env bash
# Usage: make-guide-pdf.sh OUT.pdf WORKDIR DOCS MANDIR GROFF PS2PDF [PNGTOPNM PNMTOPS]
# Builds the user guide PDF from the man pages in MANDIR (the guide, varnel(1), varnel-gui(1)):
# a page of contents with page numbers first, and the pictures that DOCS/guide-pictures.txt
# places, with numbered captions. groff lays out the pages; the contents come from a first
# layout of the same pages, which reports where each heading landed. Without PNGTOPNM and
# PNMTOPS (netpbm) the pictures are left out.
set -euo pipefail
out=$1 work=$2 docs=$3 mandir=$4 groff=$5 ps2pdf=$6 pngtopnm=${7:-} pnmtops=${8:-}
pages=(varnel-guide.7 varnel.1 varnel-gui.1)
mkdir -p "$work"

# Pictures as EPS, which groff places with PSPIC.
pictures="$work/pictures.txt"
: >"$pictures"
if [ -n "$pngtopnm" ] && [ -n "$pnmtops" ]; then
  n=0
  while IFS='|' read -r page heading picture width height caption; do
    case "$page" in '' | '#'*) continue ;; esac
    n=$((n + 1))
    eps="$work/picture-$n.eps"
    "$pngtopnm" "$docs/$picture" | "$pnmtops" -noturn -nocenter -equalpixels -nosetpage \
      -psfilter -flate -ascii85 >"$eps" 2>/dev/null
    printf '%s|%s|%s|%s|%s|%s\n' "$page" "$heading" "$eps" "$width" "$height" "$caption" >>"$pictures"
  done <"$docs/guide-pictures.txt"
fi

# Each page with its pictures after their headings; the guide also gets the contents page and
# the requests that report headings (the contents' own heading is not reported).
figure=0
for page in "${pages[@]}"; do
  figure=$(awk -F'|' -v page="$page" -v list="$pictures" -v first="$figure" \
    -v contents="$work/contents.tr" -v count="$work/figures-$page" '
    BEGIN {
      while ((getline line < list) > 0) {
        split(line, f, "|")
        if (f[1] != page) continue
        n++; head[n] = f[2]; eps[n] = f[3]; w[n] = f[4]; h[n] = f[5]; cap[n] = f[6]
      }
      fig = first
    }
    {
      print
      if (page == "varnel-guide.7" && !done && $0 ~ /^\.TH /) {
        done = 1
        print ".SH Contents"
        print ".so " contents
        print ".bp"
        print ".am SH"
        print ".tm varnel-toc 1 \\\\n% \\\\$*"
        print ".."
        print ".am SS"
        print ".tm varnel-toc 2 \\\\n% \\\\$*"
        print ".."
        print ".am TH"
        print ".tm varnel-toc 0 \\\\n% \\\\$1(\\\\$2)"
        print ".."
      }
      text = $0
      sub(/^\.S[HS] /, "", text)
      gsub(/"/, "", text)
      for (i = 1; i <= n; i++) {
        if (text != head[i] && $0 != head[i]) continue
        fig++
        printf ".PSPIC -C %s %si %si\n.ce 1\n\\fIFigure %d. %s\\fP\n.sp\n", eps[i], w[i], h[i], fig, cap[i]
      }
    }
    END { print fig > count }' "$mandir/$page" >"$work/$page")
  figure=$(cat "$work/figures-$page")
done

# The contents as groff text: one line per heading, a leader (byte 1, drawn as dots) to the
# page number.
contents() {
  echo '.nf'
  echo '.lc .'
  echo '.ta (\n[.l]u-\n[.i]u)R'
  grep '^varnel-toc ' | while read -r _ level page title; do
    [ "$title" = NAME ] && continue
    case "$level" in
      0) printf '.sp 0.5\n\\fB%s\\fP\001%s\n' "$title" "$page" ;;
      1) printf '%s\001%s\n' "$title" "$page" ;;
      *) printf '\\h'"'"'2n'"'"'%s\001%s\n' "$title" "$page" ;;
    esac
  done
  echo '.fi'
}
layout() {  # PostScript on stdout, heading reports on stderr
  (cd "$work" && "$groff" -man -rC1 -Tps "${pages[@]}")
}
# Three layouts: the contents of the first may take another page count than the empty
# placeholder did, the second's page numbers then hold for the third.
: >"$work/contents.tr"
for pass in 1 2; do
  layout 2>"$work/headings.txt" >/dev/null
  contents <"$work/headings.txt" >"$work/contents.tr"
done
layout >"$work/Varnel.ps" 2>"$work/headings.txt"
grep -v '^varnel-toc ' "$work/headings.txt" >&2 || true
# Pictures stay lossless (screenshots blur as JPEG).
"$ps2pdf" -dAutoFilterColorImages=false -dColorImageFilter=/FlateEncode \
  -dAutoFilterGrayImages=false -dGrayImageFilter=/FlateEncode "$work/Varnel.ps" "$out"
