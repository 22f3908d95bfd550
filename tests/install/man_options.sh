#!/usr/bin/env bash
# Holds the options that `fwprep-cli COMMAND --help` lists against those that
# the OPTIONS section of the manual page documents: every option of each
# command is in the page, and every option in the page belongs to a command.
# Usage: man_options.sh FWPREP_CLI PAGE.scd
set -euo pipefail
cli=$1 page=$2

# Option names (-x, --long) in the lines read from standard input.
names() { grep -oE -- '(^|[^A-Za-z0-9-])--?[A-Za-z][A-Za-z0-9-]*' | grep -oE -- '--?[A-Za-z][A-Za-z0-9-]*' | sort -u; }

# A help's option entries are "  -n, --count <COUNT>   Description": the
# names end at the first two spaces.
help_options() { "$cli" "$1" --help | sed -n 's/^  \(-.*\)/\1/p' | sed 's/  .*//' | names; }

# The page's entries are the lines of its OPTIONS section that begin with "*-".
page_options=$(awk '/^# / { inside = ($0 == "# OPTIONS") } inside && /^\*-/' "$page" | names)
[ -n "$page_options" ] || { echo "no options found in the OPTIONS section of $page"; exit 1; }

failed=0
all=
for command in split join; do
  options=$(help_options "$command")
  [ -n "$options" ] || { echo "no options found in 'fwprep-cli $command --help'"; exit 1; }
  missing=$(comm -23 <(echo "$options") <(echo "$page_options"))
  if [ -n "$missing" ]; then
    echo "in 'fwprep-cli $command --help' but not in $page:" $missing
    failed=1
  fi
  all=$(printf '%s\n%s\n' "$all" "$options" | sed '/^$/d' | sort -u)
done
extra=$(comm -13 <(echo "$all") <(echo "$page_options"))
if [ -n "$extra" ]; then
  echo "in $page but in no command's help:" $extra
  failed=1
fi
[ "$failed" = 0 ] && echo "the page documents the options of both commands:" $page_options
exit "$failed"
