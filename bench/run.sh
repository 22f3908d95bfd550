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
#   BENCH_QUICK_RUNS  timed runs of fwprep-cli's goal rows and of the copies they
#                 are held against, which take a tenth of a second where the
#                 peers take seconds (default 3 x BENCH_RUNS)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
cli=${1:-$root/build/release/cli/fwprep-cli}
mb=${BENCH_MB:-200}
big_mb=${BENCH_BIG_MB:-1000}
runs=${BENCH_RUNS:-3}
quick=${BENCH_QUICK_RUNS:-$((3 * runs))}

[ -x "$cli" ] || { echo "bench: no fwprep-cli at $cli (build it: see the top of this script)" >&2; exit 2; }
for t in mawk gawk perl cmp; do
    command -v "$t" >/dev/null || { echo "bench: $t is missing (scripts/deps.sh installs it)" >&2; exit 2; }
done
# The record layouts' peers: Python's csv module and csvkit's in2csv, both
# from Debian (bench only, so installed here rather than by scripts/deps.sh).
if ! command -v in2csv >/dev/null || [ ! -x /usr/bin/python3 ]; then
    if [ "$(id -u)" = 0 ]; then
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends csvkit python3 >&2
    else
        echo "bench: in2csv or python3 is missing (as root: apt-get install csvkit python3)" >&2; exit 2
    fi
fi
[ -x /usr/bin/time ] || { echo "bench: /usr/bin/time is missing (package 'time', scripts/deps.sh installs it)" >&2; exit 2; }

mkdir -p "${BENCH_DIR:-/tmp}"
scratch=$(mktemp -d "${BENCH_DIR:-/tmp}/fwprep-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
trap 'exit 130' INT TERM

log() { printf '%s\n' "$*" >&2; }

# ---------------------------------------------------------------- inputs
log "scratch folder: $scratch"
for kind in ascii turkish long records records-tr; do
    t0=$EPOCHREALTIME
    perl "$here/gen.pl" "$kind" "$mb" > "$scratch/$kind.txt"
    log "generated $kind.txt: $(stat -c %s "$scratch/$kind.txt") bytes, $(wc -l < "$scratch/$kind.txt") lines in $(echo "$EPOCHREALTIME - $t0" | bc) s"
done

# The Turkish text again with CR LF line ends, and in Windows-1254 (one byte a
# letter, which the encoding detection finds): rows that must not get slower.
sed 's/$/\r/' "$scratch/turkish.txt" > "$scratch/crlf.txt"
iconv -f UTF-8 -t WINDOWS-1254 "$scratch/turkish.txt" > "$scratch/w1254.txt"
log "made crlf.txt and w1254.txt from turkish.txt"

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
# runs in C.UTF-8 and perl with -CSD so that they count characters. The
# Windows-1254 input is one byte a letter: byte-wise is right there too. The
# CR LF input has no peers (a CR LF line end would need other one-liners).
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
# run_timed CMD: removes $out, then runs CMD (with $in, $out set) after a
# `sync`, so that write-back of earlier runs does not land in the timing, and
# after reading $in once untimed: a machine may keep less of the files in
# memory than the inputs take (one here kept about 1.3 GB, and a 141 MB input
# was found a third in memory), and a run that reads part of its input from
# the disk is slower at random. Sets d (seconds).
run_timed() {
    local t0 t1
    rm -f "$out"
    [ -z "${in:-}" ] || cat "$in" > /dev/null
    sync
    t0=$EPOCHREALTIME
    eval "$1"
    t1=$EPOCHREALTIME
    d=$(echo "$t1 - $t0" | bc)
}

# time_cmd CMD [RUNS]: runs CMD RUNS times (default $runs; run_timed). Sets
# best (seconds) and spread ((worst-best)/best, percent) and all_times.
time_cmd() {
    local cmd=$1 n=${2:-$runs} i d
    best= worst= all_times=
    for ((i = 0; i < n; i++)); do
        run_timed "$cmd"
        all_times+="${all_times:+ }$(printf '%.3f' "$d")"
        if [ -z "$best" ] || [ "$(echo "$d < $best" | bc)" = 1 ]; then best=$d; fi
        if [ -z "$worst" ] || [ "$(echo "$d > $worst" | bc)" = 1 ]; then worst=$d; fi
    done
    spread=$(echo "scale=1; 100 * ($worst - $best) / $best" | bc)
}

# time_turns "NAME|OUT|CMD"...: times the commands in turns, $quick rounds of
# each once (run_timed, with $out set to OUT). The machine's pace moves by up
# to 1.5x within minutes; taken in turns, commands compared with each other
# meet the same pace. Sets turn_best[NAME], turn_spread[NAME] and
# turn_times[NAME].
declare -A turn_best turn_spread turn_times
time_turns() {
    local spec r i name d
    local -a names=() outs=() cmds=()
    declare -A worst=()
    for spec; do
        names+=("${spec%%|*}"); spec=${spec#*|}
        outs+=("${spec%%|*}"); cmds+=("${spec#*|}")
    done
    for name in "${names[@]}"; do turn_best[$name]= turn_times[$name]=; done
    for ((r = 0; r < quick; r++)); do
        for i in "${!cmds[@]}"; do
            name=${names[$i]} out=${outs[$i]}
            run_timed "${cmds[$i]}"
            turn_times[$name]+="${turn_times[$name]:+ }$(printf '%.3f' "$d")"
            if [ -z "${turn_best[$name]}" ] || [ "$(echo "$d < ${turn_best[$name]}" | bc)" = 1 ]; then turn_best[$name]=$d; fi
            if [ -z "${worst[$name]:-}" ] || [ "$(echo "$d > ${worst[$name]}" | bc)" = 1 ]; then worst[$name]=$d; fi
        done
    done
    for name in "${names[@]}"; do
        turn_spread[$name]=$(echo "scale=1; 100 * (${worst[$name]} - ${turn_best[$name]}) / ${turn_best[$name]}" | bc)
    done
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

# copy_sync INPUT JOB: times a block copy of $in that makes its output durable
# before it ends, as `-o` does (fdatasync() before the rename): what `-o` is
# measured against.
copy_sync() {
    out=$scratch/out.ddsync
    time_cmd 'dd if="$in" of="$out" bs=1M conv=fdatasync status=none' "$quick"
    record "$1" "$2" "dd sync" ok
}

for kind in ascii turkish long crlf w1254; do
    in=$scratch/$kind.txt
    log "== $kind"
    out=$scratch/out.cat
    time_cmd 'cat "$in" > "$out"' "$quick"
    record "$kind" copy cat ok
    # cat copies inside the kernel (copy_file_range) where it can; dd's
    # block copy passes every byte through the program, as ours must.
    out=$scratch/out.dd
    time_cmd 'dd if="$in" bs=1M status=none > "$out"' "$quick"
    record "$kind" copy dd ok
    copy_sync "$kind" copy
    for job in split join; do
        ref=$scratch/ref.$job
        # Reference output: ours with -o; ours to stdout must give the same bytes.
        out=$ref; eval "$(ours_cmd "$job" -o)"
        out=$scratch/out.stdout; eval "$(ours_cmd "$job" stdout)"
        status=ok; cmp -s "$ref" "$out" || status=MISMATCH
        out=$scratch/out.o; time_cmd "$(ours_cmd "$job" -o)" "$quick"; record "$kind" "$job" "fwprep -o" ok
        out=$scratch/out.stdout; time_cmd "$(ours_cmd "$job" stdout)" "$quick"
        record "$kind" "$job" "fwprep >file" "$status"
        # The portable code gives the same bytes as the wider one chosen here.
        out=$scratch/out.portable
        status=info; eval "FWPREP_SIMD=portable $(ours_cmd "$job" stdout)"; cmp -s "$ref" "$out" || status=MISMATCH
        time_cmd "FWPREP_SIMD=portable $(ours_cmd "$job" stdout)"; record "$kind" "$job" "fwprep portable" "$status"
        # Both jobs run on two threads where there are two cores; on one they
        # give the same bytes.
        out=$scratch/out.one
        status=info; eval "FWPREP_THREADS=1 $(ours_cmd "$job" stdout)"; cmp -s "$ref" "$out" || status=MISMATCH
        time_cmd "FWPREP_THREADS=1 $(ours_cmd "$job" stdout)"; record "$kind" "$job" "fwprep 1 thread" "$status"
        if [ "$kind" != turkish ] && [ "$kind" != crlf ]; then
            # For information: the same job with character counting switched
            # off (one byte = one character, so the same output on ASCII).
            out=$scratch/out.bytes; eval "$(ours_cmd "$job" bytes)"
            status=info; cmp -s "$ref" "$out" || status=MISMATCH
            time_cmd "$(ours_cmd "$job" bytes)"; record "$kind" "$job" "fwprep -e bytes" "$status"
        fi
        for tool in mawk gawk perl; do
            [ "$kind" = crlf ] && break
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

# ---------------------------------------------------------------- layouts
# Records of the layout 20,10,12 (name left, amount right, city left):
#   fields  split -w 20,10,12                              (pieces as lines)
#   trimmed split -w 20,10,12 --align lrl --trim           (the same, fill taken off)
#   tocsv   split -w 20,10,12 --align lrl --trim --to csv  (a CSV record a line)
#   fromcsv join --from csv -w 20,10,12 --align lrl        (the CSV back to records)
lay_w=20,10,12
py=/usr/bin/python3
gawk_fields='BEGIN { FIELDWIDTHS = "20 10 12" } { print $1; print $2; print $3 }'
awk_fields='{ print substr($0, 1, 20); print substr($0, 21, 10); print substr($0, 31, 12) }'
perl_fields='chomp; print substr($_, 0, 20) // "", "\n", substr($_, 20, 10) // "", "\n", substr($_, 30, 12) // "", "\n"'
gawk_trimmed='BEGIN { FIELDWIDTHS = "20 10 12" }
{ a = $1; sub(/ +$/, "", a); b = $2; sub(/^ +/, "", b); c = $3; sub(/ +$/, "", c); print a; print b; print c }'
awk_trimmed='{ a = substr($0, 1, 20); sub(/ +$/, "", a); b = substr($0, 21, 10); sub(/^ +/, "", b)
  c = substr($0, 31, 12); sub(/ +$/, "", c); print a; print b; print c }'
perl_trimmed='chomp; my ($a, $b, $c) = map { $_ // "" } substr($_, 0, 20), substr($_, 20, 10), substr($_, 30, 12);
$a =~ s/ +$//; $b =~ s/^ +//; $c =~ s/ +$//; print $a, "\n", $b, "\n", $c, "\n"'
gawk_tocsv='function q(s) { if (s ~ /[,"\r]/) { gsub(/"/, "\"\"", s); s = "\"" s "\"" } return s }
BEGIN { FIELDWIDTHS = "20 10 12" }
{ a = $1; sub(/ +$/, "", a); b = $2; sub(/^ +/, "", b); c = $3; sub(/ +$/, "", c); print q(a) "," q(b) "," q(c) }'
py_tocsv='import csv, sys
enc = sys.argv[1]
with open(sys.argv[2], encoding=enc, newline="") as f, open(sys.argv[3], "w", encoding=enc, newline="") as o:
    w = csv.writer(o, lineterminator="\n")
    for line in f:
        line = line.rstrip("\n")
        w.writerow((line[0:20].rstrip(" "), line[20:30].lstrip(" "), line[30:42].rstrip(" ")))'
gawk_fromcsv='BEGIN { FPAT = "([^,]*)|(\"([^\"]|\"\")*\")" }
{ for (i = 1; i <= 3; i++) { f = $i; if (substr(f, 1, 1) == "\"") { f = substr(f, 2, length(f) - 2); gsub(/""/, "\"", f) } v[i] = f }
  printf "%-20.20s%10.10s%-12.12s\n", v[1], v[2], v[3] }'
py_fromcsv='import csv, sys
enc = sys.argv[1]
with open(sys.argv[2], encoding=enc, newline="") as f, open(sys.argv[3], "w", encoding=enc, newline="") as o:
    for a, b, c in csv.reader(f):
        o.write(a[:20].ljust(20) + b[:10].rjust(10) + c[:12].ljust(12) + "\n")'
printf 'column,start,length\nname,0,20\namount,20,10\ncity,30,12\n' > "$scratch/schema.csv"

# lay_ours JOB HOW: our command for a layout job (reads $in, writes $out with
# -o when HOW is -o, else to standard output redirected to it).
lay_ours() {
    local to='-o "$out" "$in"'
    [ "$2" = -o ] || to='"$in" > "$out"'
    case $1 in
        fields)  printf '%q split -w %s %s' "$cli" "$lay_w" "$to" ;;
        trimmed) printf '%q split -w %s --align lrl --trim %s' "$cli" "$lay_w" "$to" ;;
        tocsv)   printf '%q split -w %s --align lrl --trim --to csv %s' "$cli" "$lay_w" "$to" ;;
        fromcsv) printf '%q join --from csv -w %s --align lrl %s' "$cli" "$lay_w" "$to" ;;
    esac
}
# lay_peers JOB KIND: "tool|command" lines of the peers of a layout job.
lay_peers() {
    local job=$1 kind=$2 loc=C popt= enc=latin-1
    if [ "$kind" = records-tr ]; then loc=C.UTF-8 popt=-CSD enc=utf-8; fi
    case $job in
        fields)
            printf 'gawk|LC_ALL=%s gawk %q < "$in" > "$out"\n' "$loc" "$gawk_fields"
            printf 'mawk|LC_ALL=%s mawk %q < "$in" > "$out"\n' "$loc" "$awk_fields"
            printf 'perl|LC_ALL=%s perl %s -ne %q < "$in" > "$out"\n' "$loc" "$popt" "$perl_fields" ;;
        trimmed)
            printf 'gawk|LC_ALL=%s gawk %q < "$in" > "$out"\n' "$loc" "$gawk_trimmed"
            printf 'mawk|LC_ALL=%s mawk %q < "$in" > "$out"\n' "$loc" "$awk_trimmed"
            printf 'perl|LC_ALL=%s perl %s -ne %q < "$in" > "$out"\n' "$loc" "$popt" "$perl_trimmed" ;;
        tocsv)
            printf 'gawk|LC_ALL=%s gawk %q < "$in" > "$out"\n' "$loc" "$gawk_tocsv"
            printf 'python3 csv|%q -c %q %s "$in" "$out"\n' "$py" "$py_tocsv" "$enc"
            printf 'in2csv|in2csv -e %s -f fixed -s %q "$in" | tail -n +2 > "$out"\n' "$enc" "$scratch/schema.csv" ;;
        fromcsv)
            printf 'gawk|LC_ALL=%s gawk %q < "$in" > "$out"\n' "$loc" "$gawk_fromcsv"
            printf 'python3 csv|%q -c %q %s "$in" "$out"\n' "$py" "$py_fromcsv" "$enc" ;;
    esac
}

lay_rows=()
for kind in records records-tr; do
    log "== $kind"
    for job in fields trimmed tocsv fromcsv; do
        # The join's input is the CSV, smaller than the records: its goals are
        # against copies of the CSV.
        in=$scratch/$kind.txt
        [ "$job" = fromcsv ] && in=$scratch/$kind.csv
        ref=$scratch/ref.$job
        out=$ref; eval "$(lay_ours "$job" -o)"
        [ "$job" = tocsv ] && cp "$ref" "$scratch/$kind.csv"
        out=$scratch/out.stdout; eval "$(lay_ours "$job" stdout)"
        status=ok; cmp -s "$ref" "$out" || status=MISMATCH
        # The copies of the job's input and ours, in turns.
        time_turns "copy cat|$scratch/out.cat|"'cat "$in" > "$out"' \
            "copy dd|$scratch/out.dd|"'dd if="$in" bs=1M status=none > "$out"' \
            "copy dd sync|$scratch/out.ddsync|"'dd if="$in" of="$out" bs=1M conv=fdatasync status=none' \
            "fwprep -o|$scratch/out.o|$(lay_ours "$job" -o)" \
            "fwprep >file|$scratch/out.stdout|$(lay_ours "$job" stdout)"
        for tool in "copy cat" "copy dd" "copy dd sync" "fwprep -o" "fwprep >file"; do
            best=${turn_best[$tool]} spread=${turn_spread[$tool]} all_times=${turn_times[$tool]}
            st=ok; [ "$tool" = "fwprep >file" ] && st=$status
            record "$kind" "$job" "$tool" "$st"
            lay_rows+=("${rows[-1]}"); unset 'rows[-1]'
        done
        out=$scratch/out.portable; eval "FWPREP_SIMD=portable $(lay_ours "$job" stdout)"
        if ! cmp -s "$ref" "$out"; then
            log "  MISMATCH: the portable code, $job on $kind: $(cmp "$ref" "$out" 2>&1 | head -1)"
            lay_rows+=("$kind|$job|fwprep portable|0|0|0|MISMATCH|")
        fi
        out=$scratch/out.one; eval "FWPREP_THREADS=1 $(lay_ours "$job" stdout)"
        status=info; cmp -s "$ref" "$out" || status=MISMATCH
        time_cmd "FWPREP_THREADS=1 $(lay_ours "$job" stdout)"; record "$kind" "$job" "fwprep 1 thread" "$status"
        lay_rows+=("${rows[-1]}"); unset 'rows[-1]'
        while IFS='|' read -r tool cmd; do
            out=$scratch/out.peer
            eval "$cmd"
            if cmp -s "$ref" "$out"; then status=ok; else
                status=MISMATCH
                log "  MISMATCH: $tool $job on $kind: $(cmp "$ref" "$out" 2>&1 | head -1)"
            fi
            # in2csv takes minutes on 200 MB: one run is enough to tell.
            saved=$runs; [ "$tool" = in2csv ] && runs=1
            time_cmd "$cmd"; record "$kind" "$job" "$tool" "$status"
            runs=$saved
            lay_rows+=("${rows[-1]}"); unset 'rows[-1]'
        done < <(lay_peers "$job" "$kind")
        rm -f "$ref" "$scratch"/out.*
    done
    rm -f "$scratch/$kind.csv" "$scratch/$kind.txt"
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
echo "(cat rows: ratio for split/join; 'fwprep -e bytes' rows: >file with -e bytes, 'fwprep portable' rows: >file with"
echo " FWPREP_SIMD=portable, 'fwprep 1 thread' rows: >file with FWPREP_THREADS=1, each output compared with the"
echo " reference: for information, not in the goals)"

# ---------------------------------------------------------------- goals
# copy_goals INPUT JOB HOW SECONDS [PREFIX]: our speed against each copy of
# INPUT (rows of JOB whose tool is PREFIX and the copy's name), >= 0.5 each: to
# a file against cat and dd, with -o against dd that syncs as -o does.
copy_goals() {
    local tool vs ok tools=(cat dd)
    [ "$3" = "fwprep -o" ] && tools=("dd sync")
    for tool in "${tools[@]}"; do
        vs=$(ratio "${besttime[$1|$2|${5:-}$tool]}" "$4")
        ok=FAIL; [ "$(echo "$vs >= 0.5" | bc)" = 1 ] && ok=PASS
        printf '  %5sx %s speed %s' "$vs" "$tool" "$ok"
    done
}
echo
echo "Goals on ASCII input: fwprep-cli >= 10x the fastest matching peer, >= 0.5x the speed of a copy"
echo "(to a file: of cat, which copies inside the kernel, and of dd bs=1M, a block copy through the program;"
echo " with -o, which syncs the output to disk before it renames it: of dd bs=1M conv=fdatasync. No peer"
echo " syncs its output: -o's ratio to the fastest peer is for information, the disk's speed is in it)"
# peer_goal RATIO: PASS or FAIL against 10x.
peer_goal() { if [ "$(echo "$1 >= 10" | bc)" = 1 ]; then echo PASS; else echo FAIL; fi; }
for job in split join; do
    fastest= fname=
    for tool in mawk gawk perl; do
        for r in "${rows[@]}"; do
            IFS='|' read -r input j t best _ _ status _ <<< "$r"
            [ "$input" = ascii ] && [ "$j" = "$job" ] && [ "$t" = "$tool" ] && [ "$status" = ok ] || continue
            if [ -z "$fastest" ] || [ "$(echo "$best < $fastest" | bc)" = 1 ]; then fastest=$best fname=$tool; fi
        done
    done
    for how in "fwprep -o" "fwprep >file"; do
        ours=${besttime[ascii|$job|$how]}
        vs_peer=$(ratio "$fastest" "$ours")
        ok1=$(peer_goal "$vs_peer"); [ "$how" = "fwprep -o" ] && ok1=info
        printf '  %-5s %-13s %6sx fastest peer (%s) %s;%s\n' "$job" "$how" "$vs_peer" "$fname" "$ok1" \
            "$(copy_goals ascii copy "$how" "$ours")"
    done
done

echo
echo "Record layouts (20,10,12): fields = split to lines, tocsv = split --trim --to csv, fromcsv = join --from csv"
printf '%-10s %-8s %-14s %9s %8s %7s %13s  %s\n' input job tool seconds "MB/s" spread "x(-o/>file)" status
for r in "${lay_rows[@]}"; do
    IFS='|' read -r input job tool best mbps spr status _ <<< "$r"
    x=-
    if [ "$status" = ok ] && [[ $tool != fwprep* ]] && [[ $tool != copy* ]]; then
        x="$(ratio "$best" "${besttime[$input|$job|fwprep -o]}")/$(ratio "$best" "${besttime[$input|$job|fwprep >file]}")"
    fi
    printf '%-10s %-8s %-14s %9.3f %8.1f %6.1f%% %13s  %s\n' "$input" "$job" "$tool" "$best" "$mbps" "$spr" "$x" "$status"
done
echo "Goals on ASCII records: >= 10x the fastest matching peer, >= 0.5x the speed of a copy (as above;"
echo " each job's copies of its input taken in turns with it; fromcsv's input is the CSV)"
for job in fields trimmed tocsv fromcsv; do
    fastest= fname=
    for r in "${lay_rows[@]}"; do
        IFS='|' read -r input j t best _ _ status _ <<< "$r"
        [ "$input" = records ] && [ "$j" = "$job" ] && [[ $t != fwprep* ]] && [[ $t != copy* ]] && [ "$status" = ok ] || continue
        if [ -z "$fastest" ] || [ "$(echo "$best < $fastest" | bc)" = 1 ]; then fastest=$best fname=$t; fi
    done
    for how in "fwprep -o" "fwprep >file"; do
        ours=${besttime[records|$job|$how]}
        ok1=FAIL vs_peer=-
        [ -z "$fastest" ] || { vs_peer=$(ratio "$fastest" "$ours"); ok1=$(peer_goal "$vs_peer"); }
        [ "$how" = "fwprep -o" ] && ok1=info
        printf '  %-8s %-13s %6sx fastest peer (%s) %s;%s\n' "$job" "$how" "$vs_peer" "${fname:-none}" "$ok1" \
            "$(copy_goals records "$job" "$how" "$ours" "copy ")"
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
rm -f "$scratch/turkish.txt" "$scratch/crlf.txt" "$scratch/w1254.txt"
big_bytes=$(stat -c %s "$big")
# On two threads, each with a chunk's input and output in hand.
peak_rss "join -n 0 -w 4 (threads), ASCII $((big_bytes / 1000000)) MB" "$cli" join -n 0 -w 4 -o "$scratch/out.big" "$big"
printf '  (output: %d bytes on %d line(s))\n' "$(stat -c %s "$scratch/out.big")" "$(wc -l < "$scratch/out.big")"
rm -f "$scratch/out.big"
peak_rss "split -n 3 -w 5 (threads), ASCII $((big_bytes / 1000000)) MB" "$cli" split -n 3 -w 5 -o "$scratch/out.big" "$big"
rm -f "$scratch/out.big"
peak_rss "split -n 3 -w 5, long lines $((mb)) MB" "$cli" split -n 3 -w 5 -o "$scratch/out.long" "$scratch/long.txt"
peak_rss "join -n 3 -w 4, long lines $((mb)) MB" "$cli" join -n 3 -w 4 -o "$scratch/out.long" "$scratch/long.txt"
# A CSV record of one 200 MB line, its one field quoted: streamed, not held.
{ printf '"'; tr -d '\n"' < "$scratch/long.txt"; printf '",x\n'; } > "$scratch/long.csv"
peak_rss "join --from csv -w 30000,1, one $((mb)) MB quoted field" "$cli" join --from csv -w 30000,1 -o "$scratch/out.long" "$scratch/long.csv"
peak_rss "split -w 30000,30000 --to csv, one $((mb)) MB line" "$cli" split -w 30000,30000 --to csv -o "$scratch/out.long" "$scratch/long.csv"

# ---------------------------------------------------------------- small inputs
# Batch work runs the program once a file: on small files its start-up and
# first touches of memory are the whole cost. Mean wall time of a run over
# 200 runs, best of BENCH_RUNS, against cat of the same file.
echo
echo "Small inputs (mean of 200 runs, best of $runs)"
head -c 2000 "$scratch/long.txt" | fold -w 40 > "$scratch/small.txt"
small_mean() {
    local best= i r t0 d
    for ((r = 0; r < runs; r++)); do
        t0=$EPOCHREALTIME
        for ((i = 0; i < 200; i++)); do "$@" > "$scratch/out.small" 2> /dev/null; done
        d=$(echo "($EPOCHREALTIME - $t0) * 1000 / 200" | bc -l)
        if [ -z "$best" ] || [ "$(echo "$d < $best" | bc)" = 1 ]; then best=$d; fi
    done
    printf '%.2f' "$best"
}
printf '  %-44s %s ms a run\n' "split -n 3 -w 5, a 2 KB file" "$(small_mean "$cli" split -n 3 -w 5 "$scratch/small.txt")"
printf '  %-44s %s ms a run\n' "join --from csv -w 20,10,12, the same file" \
    "$(small_mean "$cli" join --from csv -w 20,10,12 "$scratch/small.txt")"
printf '  %-44s %s ms a run\n' "cat, the same file" "$(small_mean cat "$scratch/small.txt")"
peak_rss "split -n 3 -w 5, a 2 KB file" "$cli" split -n 3 -w 5 -o "$scratch/out.small" "$scratch/small.txt"
