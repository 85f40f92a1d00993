#!/bin/bash
# Converts the traditional sample and test files with a fixed set of rule files and prints the
# SHA-256 of every output (reports left out: they hold times). Used by the output identity test;
# regenerate the expected list with:
#   bash tests/cli/identity/run.sh build/cli/varnel . > tests/cli/identity/expected.sha256
# Arguments: the varnel program, the source root, a scratch folder (a fresh one when omitted).
set -eu
exe=$1
root=$2
if [ $# -ge 3 ]; then
  work=$3
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
here=$root/tests/cli/identity
mkdir -p "$work/src"
# The samples come last: one of them is also a test file, and the copies are the same.
cp "$root"/tests/data/transaction/* "$root"/tests/data/imaging/*.an2 \
  "$root"/tests/data/exports/type9-13.an2k "$work/src/"
cp "$root"/samples/transactions/* "$work/src/"
for rules in "$root/samples/rules/demo.ntx" "$here"/*.ntx; do
  name=$(basename "$rules" .ntx)
  mkdir -p "$work/out/$name"
  # A damaged input makes the run exit 1; the outputs are what is compared.
  "$exe" convert --source "$work/src" --dest "$work/out/$name" --rules "$rules" --quiet \
    </dev/null >/dev/null 2>&1 || [ $? -eq 1 ]
done
cd "$work/out"
find . -type f ! -name 'VarnelReport_*' | LC_ALL=C sort | xargs -d '\n' sha256sum
