#!/usr/bin/env bash
# Usage: guide_pdf_test.sh VARNEL_PDF PICTURE_LIST
# Fails when the user guide PDF has no page of contents, when a heading of the contents is not
# on the page it names, or when a picture of the list or its caption is missing.
set -uo pipefail
pdf=$1 list=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

first=$(pdftotext -layout -l 1 "$pdf" -) || fail "pdftotext cannot read $pdf"
grep -q "Contents" <<<"$first" || fail "the first page has no Contents"
entries=0
while read -r line; do
  # "THE RULE EDITOR ........ 3": the heading, dot leaders, the page number.
  [[ $line =~ ^(.*[^ .])\ *\.{3,}\ *([0-9]+)$ ]] || continue
  title=${BASH_REMATCH[1]} page=${BASH_REMATCH[2]}
  entries=$((entries + 1))
  pdftotext -f "$page" -l "$page" "$pdf" - | sed 's/\xe2\x88\x92/-/g' | grep -qF -- "${title//−/-}" ||
    fail "contents: '$title' is not on page $page"
done <<<"$first"
[ "$entries" -ge 10 ] || fail "the contents list $entries headings"

expected=$(grep -cv '^\(#\|$\)' "$list")
images=$(pdfimages -list "$pdf" | tail -n +3 | wc -l)
[ "$images" -eq "$expected" ] || fail "$images pictures in the PDF, the list places $expected"
text=$(pdftotext "$pdf" -)
n=0
while IFS='|' read -r page _ _ _ _ caption; do
  case "$page" in '' | '#'*) continue ;; esac
  n=$((n + 1))
  grep -qF "Figure $n. $caption" <<<"$text" || fail "no caption 'Figure $n. $caption'"
done <"$list"

if [ "$failures" -eq 0 ]; then echo "the guide has its contents ($entries headings) and $images pictures"; fi
[ "$failures" -eq 0 ]
