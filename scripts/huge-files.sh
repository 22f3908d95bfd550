#!/usr/bin/env bash
# Runs fwprep-cli over inputs too large to keep in memory and checks every
# output byte for byte against an independent computation:
#   - a stream of more than 4 GiB with tens of millions of lines on standard
#     input, through split, join, and join with every column on one line;
#   - a 5 GiB sparse file without any line end (one 5 GiB line), through split
#     and join into named output files.
# Prints the time and the peak resident memory of every run, and fails when an
# output differs or the memory exceeds a bound that does not grow with the input.
#
# Usage: scripts/huge-files.sh [WORKDIR]   (needs about 1 GiB of free disk there)
# FWPREP_CLI=path overrides the program; STREAM_GIB (default 4.5) the stream size.
# No pipefail: `yes | head` ends `yes` by SIGPIPE on purpose. fwprep-cli's own
# status is checked in measured().
set -eu
cd "$(dirname "$0")/.."
export LC_ALL=C.UTF-8

work=${1:-$(mktemp -d)}
mkdir -p "$work"
rm -f "$work/failed"
rss_limit_kib=$((64 * 1024))
stream_bytes=$(awk -v g="${STREAM_GIB:-4.5}" 'BEGIN { printf "%d", g * 1073741824 }')

if [ -z "${FWPREP_CLI:-}" ]; then
  cmake -S . -B build/huge -G Ninja -DCMAKE_BUILD_TYPE=Release -DFWPREP_BUILD_GUI=OFF -DBUILD_TESTING=OFF >/dev/null
  cmake --build build/huge --target fwprep-cli >/dev/null
  FWPREP_CLI=build/huge/cli/fwprep-cli
fi
cli=$(realpath "$FWPREP_CLI")
# Runs fwprep-cli with the given arguments under /usr/bin/time; reports time and
# peak memory. Standard input and output are the caller's.
measured() {
  local label=$1; shift
  local log="$work/time.log"
  if ! /usr/bin/time -v -o "$log" "$cli" "$@"; then
    echo "$label: FAIL: fwprep-cli failed" >&2
    touch "$work/failed"
  fi
  local rss secs
  rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$log")
  secs=$(awk -F': ' '/Elapsed \(wall clock\)/ { print $2 }' "$log")
  echo "$label: wall $secs, peak RSS ${rss} KiB" >&2
  if [ "$rss" -gt "$rss_limit_kib" ]; then
    echo "$label: FAIL: peak RSS ${rss} KiB above ${rss_limit_kib} KiB" >&2
    touch "$work/failed"
  fi
}

check() {
  local label=$1 got=$2 want=$3
  if [ "$got" = "$want" ]; then
    echo "$label: output OK ($got)"
  else
    echo "$label: FAIL: output $got, expected $want"
    touch "$work/failed"
  fi
}

# ---------------------------------------------------------------- the stream
# One block of seven lines, repeated. `yes` adds the LF after the last line.
long=$(printf '%0300d' 7)
block_text=$(printf '%s\n' "fwprep huge-file test line" "" "ÇĞİÖŞÜ çğıöşü İstanbul" "x" "$long" \
  $'tab\tand\rlone CR' "last line of the block")
block_bytes=$(( $(printf '%s\n' "$block_text" | wc -c) ))
blocks=$(( (stream_bytes + block_bytes - 1) / block_bytes ))
total_bytes=$(( blocks * block_bytes ))
total_lines=$(( blocks * 7 ))
echo "stream: $total_bytes bytes ($(awk -v b=$total_bytes 'BEGIN { printf "%.2f", b / 1073741824 }') GiB), $total_lines lines"

stream() { yes "$block_text" | head -c "$total_bytes"; }

# What one block gives, by perl (characters, not bytes), written out as the
# whole expected output by `yes` again, then compared by checksum.
expect_split() { # n k
  printf '%s\n' "$block_text" | perl -CSD -ne 'chomp; for my $i (0 .. '"$1"' - 1) { print substr($_, $i * '"$2"', '"$2"') // "", "\n" }'
}
expect_join_line() { # k: the columns of one block, without a line end
  printf '%s\n' "$block_text" | perl -CSD -ne 'chomp; my $c = substr($_, 0, '"$1"'); print " " x ('"$1"' - length $c), $c'
}
sum_of_repeated() { # text-with-final-LF count
  local text=$1 count=$2
  local bytes=$(( $(printf '%s' "$text" | wc -c) ))
  yes "${text%$'\n'}" | head -c $(( bytes * count )) | md5sum | cut -d' ' -f1
}

split_block=$(expect_split 3 7; echo x); split_block=${split_block%x}
want=$(sum_of_repeated "$split_block" "$blocks")
got=$(stream | measured "stream split -n 3 -w 7" split -n 3 -w 7 | md5sum | cut -d' ' -f1)
check "stream split -n 3 -w 7" "$got" "$want"

join_line=$(expect_join_line 12)
want=$(sum_of_repeated "$join_line"$'\n' "$blocks")
got=$(stream | measured "stream join -n 7 -w 12" join -n 7 -w 12 | md5sum | cut -d' ' -f1)
check "stream join -n 7 -w 12" "$got" "$want"

# Every column on one output line: one line of hundreds of megabytes.
cols=$(expect_join_line 3)
want=$( { yes "$cols" | tr -d '\n' | head -c $(( $(printf '%s' "$cols" | wc -c) * blocks )); printf '\n'; } \
  | md5sum | cut -d' ' -f1)
got=$(stream | measured "stream join -n 0 -w 3 (one output line)" join -n 0 -w 3 | md5sum | cut -d' ' -f1)
check "stream join -n 0 -w 3 (one output line)" "$got" "$want"

# ---------------------------------------------------------- the sparse file
# 5 GiB without a line end: a few letters, then holes that read as NUL bytes.
sparse=$work/sparse-5g.txt
rm -f "$sparse"
printf 'ÇĞİx' >"$sparse"
truncate -s 5G "$sparse"
echo "sparse file: $(stat -c %s "$sparse") bytes, $(du -k "$sparse" | cut -f1) KiB on disk, $(tr -cd '\n' <"$sparse" | head -c 1 | wc -c) line ends"

out=$work/out.txt
printf 'old output\n' >"$out"
measured "sparse split -n 3 -w 2" split -n 3 -w 2 "$sparse" -o "$out" </dev/null
check "sparse split -n 3 -w 2" "$(md5sum <"$out" | cut -d' ' -f1)" \
  "$(printf 'ÇĞ\nİx\n\0\0\n' | md5sum | cut -d' ' -f1)"

measured "sparse join -n 2 -w 6" join -n 2 -w 6 "$sparse" -o "$out" </dev/null
check "sparse join -n 2 -w 6" "$(md5sum <"$out" | cut -d' ' -f1)" \
  "$(printf 'ÇĞİx\0\0\n' | md5sum | cut -d' ' -f1)"

# The widest pieces: 32767 characters each.
measured "sparse split -n 4 -w 32767" split -n 4 -w 32767 "$sparse" -o "$out" </dev/null
check "sparse split -n 4 -w 32767" "$(md5sum <"$out" | cut -d' ' -f1)" \
  "$( { printf 'ÇĞİx'; head -c $((32767 - 4)) /dev/zero; printf '\n'
        for _ in 1 2 3; do head -c 32767 /dev/zero; printf '\n'; done; } | md5sum | cut -d' ' -f1)"

if ls -A "$work" | grep -v -e '^sparse-5g.txt$' -e '^out.txt$' -e '^time.log$' -e '^failed$'; then
  echo "FAIL: stray files (above)"
  touch "$work/failed"
fi
rm -f "$sparse"
if [ -e "$work/failed" ]; then
  echo "huge-files: FAILED"
  exit 1
fi
echo "huge-files: all outputs correct, peak RSS within ${rss_limit_kib} KiB"
