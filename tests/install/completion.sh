#!/usr/bin/env bash
# Runs the bash completion of fwprep-cli on command lines typed so far and
# compares what it offers with what it should.
# Usage: completion.sh FWPREP_CLI COMPLETION_FILE
set -uo pipefail
cli=$1
source /usr/share/bash-completion/bash_completion || { echo "bash-completion is not installed"; exit 1; }
source "$2"

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
touch "$dir/input.txt" "$dir/-data.txt"
cd "$dir"

# The options that `fwprep-cli split --help` lists.
split_options=$("$cli" split --help | sed -n 's/^  \(-.*\)/\1/p' | sed 's/  .*//' \
  | grep -oE -- '--?[A-Za-z][A-Za-z0-9-]*' | sort | tr '\n' ' ')

failed=0
# expect WANTED WORD...: completes the last WORD of "fwprep-cli WORD..." (the
# program word is the fwprep-cli under test); WANTED is the sorted offer.
expect() {
  local wanted=$1; shift
  COMP_WORDS=("$cli" "$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE="${COMP_WORDS[*]}"
  COMP_LINE=${COMP_LINE// = /=} # the words broken at '=' were typed without spaces
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  _fwprep_cli fwprep-cli
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort | tr '\n' ' ')
  if [ "${got% }" != "${wanted% }" ]; then
    echo "FAIL: fwprep-cli ${*}| offered '${got% }', expected '${wanted% }'"
    failed=1
  fi
}

expect '--help --version join split' ''
expect 'split' s
expect "$split_options" split -
expect '--encoding --eol' join --e
expect 'auto bytes utf-8' split -e ''
expect 'utf-8' split --encoding u
expect 'auto crlf lf' join -n 3 --eol ''
expect 'crlf' join --eol = c          # --eol=c: bash breaks the word at '='
expect 'left right' join -w 3,4 --align ''
expect 'csv lines' split --to ''
expect 'csv' join --from c
expect '' split -n ''                 # a number: nothing to offer
expect '' split -w 3 --count=
expect 'input.txt' split -o in
expect 'input.txt' join -n 2 -w 4 in
expect '-data.txt' split -- -         # after '--' a '-' begins a file name
expect '' frobnicate -

[ "$failed" = 0 ] && echo "every completion as expected"
exit "$failed"
