#!/usr/bin/env bash
# Times shell commands side by side: round after round, each command once per
# round, in turn. On a shared virtual machine the pace of everything can move
# by 2x within minutes; taken in turns, the commands meet the same pace, so
# that their ratios hold even when the seconds do not.
#
# Usage: bench/side-by-side.sh ROUNDS LABEL=COMMAND...
#   Each COMMAND is run by bash (redirections included), after `sync`.
#   BEFORE, when set, is run by bash before each command and not timed; use it
#   to remove the commands' outputs (BEFORE='rm -f out'): otherwise a command
#   that writes over the file the one before it wrote pays for emptying it,
#   which for 200 MB is tens of milliseconds.
#   Prints, for each, the best and the median time of its rounds and how many
#   times the first command's best its own best is.
# Example:
#   bench/side-by-side.sh 5 "ours=fwprep-cli join -n 3 -w 4 in.txt > out" \
#       "mawk=mawk -f join.awk in.txt > out" "cat=cat in.txt > out"
set -euo pipefail

rounds=${1:?usage: side-by-side.sh ROUNDS LABEL=COMMAND...}
shift
[ $# -gt 0 ] || { echo "side-by-side: no commands given" >&2; exit 2; }
labels=() cmds=()
for arg in "$@"; do
    [[ $arg == *=* ]] || { echo "side-by-side: '$arg' is not LABEL=COMMAND" >&2; exit 2; }
    labels+=("${arg%%=*}") cmds+=("${arg#*=}")
done

declare -A times
for ((r = 0; r < rounds; r++)); do
    for i in "${!cmds[@]}"; do
        [ -z "${BEFORE:-}" ] || bash -c "$BEFORE"
        sync
        t0=$EPOCHREALTIME
        bash -c "${cmds[$i]}" > /dev/null 2>&1 || { echo "side-by-side: '${labels[$i]}' failed" >&2; exit 1; }
        t1=$EPOCHREALTIME
        times[$i]+="$(echo "$t1 - $t0" | bc) "
    done
done

first_best=
printf '%-24s %9s %9s %10s\n' command best median "x(first)"
for i in "${!cmds[@]}"; do
    sorted=$(tr ' ' '\n' <<< "${times[$i]}" | sed '/^$/d' | sort -n)
    best=$(head -1 <<< "$sorted")
    median=$(sed -n "$(((rounds + 1) / 2))p" <<< "$sorted")
    [ -n "$first_best" ] || first_best=$best
    printf '%-24s %9.3f %9.3f %10.2f\n' "${labels[$i]}" "$best" "$median" "$(echo "scale=4; $best / $first_best" | bc)"
done
