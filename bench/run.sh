#!/usr/bin/env bash
# Throughput and memory benchmark of fwprep-cli against awk/perl one-liners
# and a plain `cat` copy.  See bench/README.md.
#
# Usage: bench/run.sh [PATH/TO/fwprep-cli]
#   default binary: build/release/cli/fwprep-cli (build it first:
#     cmake --preset release && cmake --build --preset release --target fwprep-cli)
# Environment:
#   BENCH_MB      size of each generated input in MB (default 200)
#   BENCH_BIG_MB  size of the input of the memory check in MB (default 1000)
#   BENCH_DIR     folder under which the scratch folder is made (default /tmp)
#   BENCH_RUNS    timed runs per measurement, the best is reported (default 3)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
cli=${1:-$root/build/release/cli/fwprep-cli}
mb=${BENCH_MB:-200}
big_mb=${BENCH_BIG_MB:-1000}
runs=${BENCH_RUNS:-3}

[ -x "$cli" ] || { echo "bench: no fwprep-cli at $cli (build it: see the top of this script)" >&2; exit 2; }
for t in mawk gawk perl cmp; do
    command -v "$t" >/dev/null || { echo "bench: $t is missing (scripts/deps.sh installs it)" >&2; exit 2; }
done
[ -x /usr/bin/time ] || { echo "bench: /usr/bin/time is missing (package 'time', scripts/deps.sh installs it)" >&2; exit 2; }

mkdir -p "${BENCH_DIR:-/tmp}"
scratch=$(mktemp -d "${BENCH_DIR:-/tmp}/fwprep-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
trap 'exit 130' INT TERM

log() { printf '%s\n' "$*" >&2; }

# ---------------------------------------------------------------- inputs
log "scratch folder: $scratch"
for kind in ascii turkish long; do
    t0=$EPOCHREALTIME
    perl "$here/gen.pl" "$kind" "$mb" > "$scratch/$kind.txt"
    log "generated $kind.txt: $(stat -c %s "$scratch/$kind.txt") bytes, $(wc -l < "$scratch/$kind.txt") lines in $(echo "$EPOCHREALTIME - $t0" | bc) s"
done

# ---------------------------------------------------------------- peers
# The jobs: split -n 3 -w 5 and join -n 3 -w 4.
split_n=3 split_w=5 join_n=3 join_w=4
awk_split='{ for (i = 0; i < n; i++) print substr($0, i * w + 1, w) }'
awk_join='BEGIN { fmt = "%" w "." w "s" }
{ line = line sprintf(fmt, $0) }
++c == n { print line; line = ""; c = 0 }
END { if (c > 0) print line }'
perl_split='chomp; for my $i (0 .. $n - 1) { print substr($_, $i * $w, $w) // "", "\n" }'
perl_join='BEGIN { $f = "%${w}.${w}s" } chomp; $l .= sprintf($f, $_);
if (++$c == $n) { print $l, "\n"; $l = ""; $c = 0 } END { print $l, "\n" if $c }'

# peer_cmd TOOL JOB INPUT-KIND: prints the shell command of a peer (reads
# $in, writes $out).  On the ASCII inputs the peers run byte-wise (C locale,
# perl without -C), their fastest correct setting; on the Turkish input gawk
# runs in C.UTF-8 and perl with -CSD so that they count characters.
peer_cmd() {
    local tool=$1 job=$2 kind=$3 n w prog loc=C popt=
    if [ "$job" = split ]; then n=$split_n w=$split_w; else n=$join_n w=$join_w; fi
    if [ "$kind" = turkish ]; then loc=C.UTF-8 popt=-CSD; fi
    case $tool in
        mawk|gawk)
            [ "$job" = split ] && prog=$awk_split || prog=$awk_join
            printf 'LC_ALL=%s %s -v n=%d -v w=%d %q < "$in" > "$out"' "$loc" "$tool" "$n" "$w" "$prog" ;;
        perl)
            [ "$job" = split ] && prog=$perl_split || prog=$perl_join
            printf 'LC_ALL=%s perl %s -s -ne %q -- -n=%d -w=%d < "$in" > "$out"' "$loc" "$popt" "$prog" "$n" "$w" ;;
    esac
}

ours_cmd() {
    local job=$1 how=$2 n w
    if [ "$job" = split ]; then n=$split_n w=$split_w; else n=$join_n w=$join_w; fi
    if [ "$how" = -o ]; then
        printf '%q %s -n %d -w %d -o "$out" "$in"' "$cli" "$job" "$n" "$w"
    elif [ "$how" = bytes ]; then
        printf '%q %s -n %d -w %d -e bytes "$in" > "$out"' "$cli" "$job" "$n" "$w"
    else
        printf '%q %s -n %d -w %d "$in" > "$out"' "$cli" "$job" "$n" "$w"
    fi
}

# ---------------------------------------------------------------- timing
# time_cmd CMD: runs CMD (with $in, $out set) $runs times, each after a
# `sync` so that write-back of earlier runs does not land in the timing.
# Sets best (seconds) and spread ((worst-best)/best, percent) and all_times.
time_cmd() {
    local cmd=$1 i t0 t1 d
    best= worst= all_times=
    for ((i = 0; i < runs; i++)); do
        rm -f "$out"
        sync
        t0=$EPOCHREALTIME
        eval "$cmd"
        t1=$EPOCHREALTIME
        d=$(echo "$t1 - $t0" | bc)
        all_times+="${all_times:+ }$(printf '%.3f' "$d")"
        if [ -z "$best" ] || [ "$(echo "$d < $best" | bc)" = 1 ]; then best=$d; fi
        if [ -z "$worst" ] || [ "$(echo "$d > $worst" | bc)" = 1 ]; then worst=$d; fi
    done
    spread=$(echo "scale=1; 100 * ($worst - $best) / $best" | bc)
}

rows=()        # "input|job|tool|best|mbps|spread|status"
declare -A besttime
record() {     # record INPUT JOB TOOL STATUS
    local size mbps
    size=$(stat -c %s "$in")
    mbps=$(echo "scale=1; $size / 1000000 / $best" | bc)
    rows+=("$1|$2|$3|$best|$mbps|$spread|$4|$all_times")
    besttime["$1|$2|$3"]=$best
    log "  $(printf '%-8s %-6s %-14s best %7.3f s  runs: %s  %s' "$1" "$2" "$3" "$best" "$all_times" "$4")"
}

for kind in ascii turkish long; do
    in=$scratch/$kind.txt
    log "== $kind"
    out=$scratch/out.cat
    cat "$in" > "$out"   # warm-up, as every other tool gets one (its cmp run)
    time_cmd 'cat "$in" > "$out"'
    record "$kind" copy cat ok
    for job in split join; do
        ref=$scratch/ref.$job
        # Reference output: ours with -o; ours to stdout must give the same bytes.
        out=$ref; eval "$(ours_cmd "$job" -o)"
        out=$scratch/out.stdout; eval "$(ours_cmd "$job" stdout)"
        status=ok; cmp -s "$ref" "$out" || status=MISMATCH
        out=$scratch/out.o; time_cmd "$(ours_cmd "$job" -o)"; record "$kind" "$job" "fwprep -o" ok
        out=$scratch/out.stdout; time_cmd "$(ours_cmd "$job" stdout)"; record "$kind" "$job" "fwprep >file" "$status"
        if [ "$kind" != turkish ]; then
            # For information: the same job with character counting switched
            # off (one byte = one character, so the same output on ASCII).
            out=$scratch/out.bytes; eval "$(ours_cmd "$job" bytes)"
            status=info; cmp -s "$ref" "$out" || status=MISMATCH
            time_cmd "$(ours_cmd "$job" bytes)"; record "$kind" "$job" "fwprep -e bytes" "$status"
        fi
        for tool in mawk gawk perl; do
            out=$scratch/out.$tool
            cmd=$(peer_cmd "$tool" "$job" "$kind")
            # Same bytes as ours first; a peer that differs is timed but gets no ratio.
            eval "$cmd"
            if cmp -s "$ref" "$out"; then status=ok; else
                status=MISMATCH
                log "  MISMATCH: $tool $job on $kind: $(cmp "$ref" "$out" 2>&1 | head -1)"
            fi
            time_cmd "$cmd"
            record "$kind" "$job" "$tool" "$status"
        done
        rm -f "$ref" "$scratch"/out.*
    done
done

# ---------------------------------------------------------------- table
ratio() { echo "scale=2; $1 / $2" | bc | sed 's/^\./0./'; }
echo
echo "fwprep-cli benchmark: $(stat -c %s "$scratch/ascii.txt") / $(stat -c %s "$scratch/turkish.txt") / $(stat -c %s "$scratch/long.txt") bytes (ascii / turkish / long), best of $runs"
echo "x(-o) and x(>file): how many times faster fwprep-cli (with -o / to stdout) is than that tool; spread = (worst-best)/best"
printf '%-8s %-5s %-15s %9s %8s %7s %8s %9s  %s\n' input job tool "seconds" "MB/s" spread "x(-o)" "x(>file)" status
for r in "${rows[@]}"; do
    IFS='|' read -r input job tool best mbps spr status _ <<< "$r"
    xo=- xs=-
    if [ "$status" = ok ] && [[ $tool != fwprep* ]]; then
        if [ "$job" = copy ]; then
            # cat is the baseline of both jobs: ratios per job.
            xo="$(ratio "$best" "${besttime[$input|split|fwprep -o]}")/$(ratio "$best" "${besttime[$input|join|fwprep -o]}")"
            xs="$(ratio "$best" "${besttime[$input|split|fwprep >file]}")/$(ratio "$best" "${besttime[$input|join|fwprep >file]}")"
        else
            xo=$(ratio "$best" "${besttime[$input|$job|fwprep -o]}")
            xs=$(ratio "$best" "${besttime[$input|$job|fwprep >file]}")
        fi
    fi
    printf '%-8s %-5s %-15s %9.3f %8.1f %6.1f%% %8s %9s  %s\n' "$input" "$job" "$tool" "$best" "$mbps" "$spr" "$xo" "$xs" "$status"
done
echo "(cat rows: ratio for split/join; 'fwprep -e bytes' rows: >file with -e bytes, for information, not in the goals)"

# ---------------------------------------------------------------- goals
echo
echo "Goals on ASCII input: fwprep-cli >= 10x the fastest matching peer, >= 0.5x the speed of cat"
for job in split join; do
    fastest= fname=
    for tool in mawk gawk perl; do
        for r in "${rows[@]}"; do
            IFS='|' read -r input j t best _ _ status _ <<< "$r"
            [ "$input" = ascii ] && [ "$j" = "$job" ] && [ "$t" = "$tool" ] && [ "$status" = ok ] || continue
            if [ -z "$fastest" ] || [ "$(echo "$best < $fastest" | bc)" = 1 ]; then fastest=$best fname=$tool; fi
        done
    done
    cat_t=${besttime[ascii|copy|cat]}
    for how in "fwprep -o" "fwprep >file"; do
        ours=${besttime[ascii|$job|$how]}
        vs_peer=$(ratio "$fastest" "$ours")
        vs_cat=$(ratio "$cat_t" "$ours")
        ok1=FAIL ok2=FAIL
        [ "$(echo "$vs_peer >= 10" | bc)" = 1 ] && ok1=PASS
        [ "$(echo "$vs_cat >= 0.5" | bc)" = 1 ] && ok2=PASS
        printf '  %-5s %-13s %6sx fastest peer (%s) %s;  %5sx cat speed %s\n' "$job" "$how" "$vs_peer" "$fname" "$ok1" "$vs_cat" "$ok2"
    done
done

# ---------------------------------------------------------------- memory
# peak_rss LABEL CMD...: peak resident set size from /usr/bin/time -v.
peak_rss() {
    local label=$1; shift
    local tlog=$scratch/time.log
    /usr/bin/time -v -o "$tlog" "$@"
    local kb wall
    kb=$(sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p' "$tlog")
    wall=$(sed -n 's/^[[:space:]]*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$tlog")
    printf '  %-52s peak RSS %8d KiB (%.1f MiB), wall %s\n' "$label" "$kb" "$(echo "scale=1; $kb / 1024" | bc)" "$wall"
}

echo
echo "Memory (peak RSS, /usr/bin/time -v)"
big=$scratch/big.txt
reps=$(( (big_mb + mb - 1) / mb ))
for ((i = 0; i < reps; i++)); do cat "$scratch/ascii.txt"; done > "$big"
rm -f "$scratch/turkish.txt"
big_bytes=$(stat -c %s "$big")
peak_rss "join -n 0 -w 4, ASCII $((big_bytes / 1000000)) MB" "$cli" join -n 0 -w 4 -o "$scratch/out.big" "$big"
printf '  (output: %d bytes on %d line(s))\n' "$(stat -c %s "$scratch/out.big")" "$(wc -l < "$scratch/out.big")"
rm -f "$scratch/out.big"
peak_rss "split -n 3 -w 5, long lines $((mb)) MB" "$cli" split -n 3 -w 5 -o "$scratch/out.long" "$scratch/long.txt"
peak_rss "join -n 3 -w 4, long lines $((mb)) MB" "$cli" join -n 3 -w 4 -o "$scratch/out.long" "$scratch/long.txt"
