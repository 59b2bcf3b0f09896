#!/usr/bin/env bash
# Checks the manual page and the bash completion against the program's --help:
# the page renders without warnings, carries the version and mentions every
# command, option and level of the help text; the completion offers each command's options (as the usage
# lines of --help list them) and every level.
#
# usage: check_docs.sh RINGTRAP MANPAGE COMPLETION
# Exit status: 0 passed, 77 skipped (neither groff nor man to render the page;
# the other checks have passed by then), anything else failed.
set -euo pipefail
program=$1 page=$2 completion=$3
fail() {
  echo "check_docs: $*" >&2
  exit 1
}

help=$("$program" --help)
# The usage lines: "  ringtrap COMMAND OPTIONS..." for each command.
commands=$(printf '%s\n' "$help" | sed -n 's/^  ringtrap \([a-z][a-z]*\) .*/\1/p')
[ "$(printf '%s\n' "$commands" | wc -l)" -ge 4 ] || fail "no commands found in --help"
options=$(printf '%s\n' "$help" | grep -oE -- '(^|[^a-z-])(--[a-z][a-z-]*|-h)' | grep -oE -- '-[a-z-]+' | sort -u)
levels=$(printf '%s\n' "$help" | grep -oE -- '--level [a-z0-9|]+' | head -1 | cut -d' ' -f2 | tr '|' ' ')
[ -n "$levels" ] || fail "no levels found in --help"

# The page's text, rendered when possible; its source (with \- as -) otherwise.
skip=0
if command -v groff >/dev/null; then
  warnings=$(groff -man -ww -z "$page" 2>&1) || fail "groff failed on $page: $warnings"
  [ -z "$warnings" ] || fail "groff warns about $page: $warnings"
  text=$(groff -man -Tascii -P-cbou "$page" 2>/dev/null)
elif command -v man >/dev/null; then
  warnings=$(man --warnings -l "$page" 2>&1 >/dev/null) || fail "man failed on $page: $warnings"
  [ -z "$warnings" ] || fail "man warns about $page: $warnings"
  text=$(MANWIDTH=200 man -l "$page" 2>/dev/null | sed 's/.\x08//g')
else
  echo "check_docs: neither groff nor man found; the page is not rendered"
  skip=1
  text=$(sed 's/\\-/-/g' "$page")
fi
# Hyphenation would split words across lines; join everything into one line.
flat=" $(printf '%s\n' "$text" | sed 's/-$//' | tr -s ' \n' '  ') "
for word in $commands $options $levels; do
  [[ $flat == *[![:alnum:]-]"$word"[![:alnum:]-]* ]] || fail "$page does not mention '$word' (from --help)"
done

version=$("$program" --version | awk '{ print $2 }')
[[ $flat == *" ringtrap $version "* ]] || fail "$page does not carry the version $version"

# The completion: every option of each command's usage line, and the levels.
# shellcheck disable=SC1090
source "$completion"
complete_words() {
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  _ringtrap
  printf '%s\n' "${COMPREPLY[@]}"
}
top=$(complete_words ringtrap "")
for command in $commands; do
  grep -qx "$command" <<<"$top" || fail "the completion does not offer the command $command"
  usage=$(printf '%s\n' "$help" | grep -E "^  ringtrap $command ")
  offered=$(complete_words ringtrap "$command" --)
  for option in $(grep -oE -- '--[a-z][a-z-]*' <<<"$usage"); do
    grep -qx -- "$option" <<<"$offered" || fail "the completion does not offer $option for $command"
  done
done
offered=$(complete_words ringtrap keygen --level "")
for level in $levels; do
  grep -qx -- "$level" <<<"$offered" || fail "the completion does not offer level $level"
done

[ "$skip" -eq 0 ] || exit 77
echo "check_docs: the manual page and the completion cover every command, option and level of --help"
