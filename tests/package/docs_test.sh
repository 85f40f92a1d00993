#!/usr/bin/env bash
# Usage: docs_test.sh VARNEL MAN_PAGE COMPLETION
# Fails when a subcommand or long option of the program is missing from the man page or the bash
# completion, when the man page lacks a section a user looks for, when groff warns about it, or
# when the completion does not complete a subcommand or an option.
set -uo pipefail
varnel=$1 man=$2 completion=$3
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

subcommands() {  # names listed under "Subcommands:" in the help of "$@"
  "$varnel" "$@" --help | awk '/^Subcommands:/{s=1; next} s && /^  [a-z]/{print $1}'
}
options() {  # long options listed in the help of "$@"
  "$varnel" "$@" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u | grep -vx -- '--help'
}
man_text=$(sed 's/\\-/-/g' "$man")

check_command() {  # "$@" = the words of a (sub)command
  local sub opt
  for opt in $(options "$@"); do
    grep -qF -- "$opt" <<<"$man_text" || fail "option $opt of '$*' not in the man page"
    grep -qF -- "$opt" "$completion" || fail "option $opt of '$*' not in the completion"
  done
  for sub in $(subcommands "$@"); do
    grep -qE -- "(^|[ .])$sub( |$)" <<<"$man_text" || fail "subcommand '$* $sub' not in the man page"
    grep -qwF -- "$sub" "$completion" || fail "subcommand '$* $sub' not in the completion"
    check_command "$@" "$sub"
  done
}
[ -n "$(subcommands)" ] || fail "no subcommands found in the program's help"
check_command

for section in NAME SYNOPSIS DESCRIPTION COMMANDS OPTIONS "EXIT STATUS" ENVIRONMENT FILES EXAMPLES "SEE ALSO"; do
  grep -qx "\.SH \"\?$section\"\?" "$man" || fail "man page has no $section section"
done
warnings=$(groff -man -ww -z "$man" 2>&1)
[ -z "$warnings" ] || fail "groff warns: $warnings"

# The completion, loaded as bash-completion loads it, completes subcommands and options.
complete_words() {
  bash -c 'source /usr/share/bash-completion/bash_completion; source "$1"; shift
           COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
           _varnel; printf "%s\n" "${COMPREPLY[@]}"' _ "$completion" "$@"
}
[ "$(complete_words varnel con)" = convert ] || fail "'varnel con<TAB>' does not give convert"
complete_words varnel convert --so | grep -qx -- --source || fail "'varnel convert --so<TAB>' does not give --source"
complete_words varnel wsq e | grep -qx encode || fail "'varnel wsq e<TAB>' does not give encode"

if [ "$failures" -eq 0 ]; then echo "man page and completion cover the command line"; fi
[ "$failures" -eq 0 ]
