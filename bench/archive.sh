#!/usr/bin/env bash
# Packs and extracts a generated corpus with ziptool (our archive core) and with Debian's Info-ZIP, side by side
# in one run, and prints times, sizes, ratios and our peak memory. Best of BENCH_RUNS runs (3) per figure.
# usage: bench/archive.sh ZIPTOOL [WORKDIR]      BENCH_MB sets the corpus size (300 MB by default).
set -eu  # no pipefail: the corpus pipelines are cut short by head on purpose

ziptool=$(realpath "$1")
work=${2:-$(mktemp -d "${TMPDIR:-/tmp}/zipbench.XXXXXX")}
runs=${BENCH_RUNS:-3}
total_mb=${BENCH_MB:-300}
corpus=$work/corpus
for tool in zip unzip /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "archive.sh: $tool is missing" >&2; exit 1; }
done

make_corpus() {
  rm -rf "$corpus" && mkdir -p "$corpus"
  local text_mb=$((total_mb * 30 / 100)) binary_mb=$((total_mb * 20 / 100)) packed_mb=$((total_mb * 10 / 100))
  local large_mb=$((total_mb * 40 / 100))
  # Text: real text (C headers and documentation), cut into files from a few KB to a few MB.
  find /usr/include /usr/share/doc -type f \( -name '*.h' -o -name 'copyright' -o -name '*.txt' \) -print0 2>/dev/null |
    xargs -0 cat 2>/dev/null | head -c $((text_mb << 20)) > "$work/text.all"
  # Binary: executables and libraries.
  find /usr/lib/x86_64-linux-gnu /usr/bin -maxdepth 1 -type f -size +100k -print0 2>/dev/null |
    xargs -0 cat 2>/dev/null | head -c $((binary_mb << 20)) > "$work/binary.all"
  split_into() {  # split_into FILE PREFIX SUFFIX: pieces of 4 KB up to 8 MB
    local file=$1 prefix=$2 suffix=$3 size offset=0 index=0 total
    total=$(stat -c %s "$file")
    while [ "$offset" -lt "$total" ]; do
      size=$(( (4096 << (index % 12)) ))
      tail -c +$((offset + 1)) "$file" | head -c "$size" > "$corpus/$prefix$index$suffix"
      offset=$((offset + size)); index=$((index + 1))
    done
  }
  split_into "$work/text.all" text- .txt
  split_into "$work/binary.all" binary- .bin
  # Already compressed: gzip output and random bytes, as images and packages are.
  head -c $((packed_mb << 19)) /dev/urandom > "$corpus/random.jpg"
  head -c $((packed_mb << 21)) "$work/text.all" | gzip -6 | head -c $((packed_mb << 19)) > "$corpus/docs.gz"
  # One large file: text and binary interleaved.
  { while :; do cat "$work/binary.all" "$work/text.all"; done; } 2>/dev/null | head -c $((large_mb << 20)) > "$corpus/large.dat"
  rm -f "$work/text.all" "$work/binary.all"
}

# measure NAME PREPARE COMMAND...: runs PREPARE (a shell snippet), then the command under /usr/bin/time, keeping
# the fastest time and the largest peak memory seen for NAME. The rounds below interleave ours and Info-ZIP's
# runs, so that load from elsewhere on the machine falls on both alike.
declare -A best_time best_rss
measure() {
  local name=$1 prepare=$2 seconds rss; shift 2
  eval "$prepare"
  /usr/bin/time -f '%e %M' -o "$work/time.txt" "$@" >/dev/null
  read -r seconds rss < "$work/time.txt"
  best_time[$name]=$(awk -v a="$seconds" -v b="${best_time[$name]:-999999}" 'BEGIN { print (a < b) ? a : b }')
  best_rss[$name]=$(( rss > ${best_rss[$name]:-0} ? rss : ${best_rss[$name]:-0} ))
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2fx", (b > 0) ? a / b : 0 }'; }

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
echo "Generating a corpus of about $total_mb MB in $corpus ..."
make_corpus
files=$(find "$corpus" -type f | wc -l)
bytes=$(du -sb "$corpus" | cut -f1)
cd "$work"

for ((round = 0; round < runs; round++)); do
  measure pack_ours 'rm -f ours.zip' "$ziptool" create ours.zip "$corpus"/*
  measure pack_theirs 'rm -f theirs.zip' zip -q -6 -j theirs.zip "$corpus"/*
  measure pack_ours1 'rm -f ours1.zip' "$ziptool" create --threads 1 ours1.zip "$corpus"/*
  # Both extract the same archive, Info-ZIP's own.
  measure extract_ours 'rm -rf out-ours' "$ziptool" extract theirs.zip out-ours
  measure extract_theirs 'rm -rf out-theirs' unzip -o -q -j theirs.zip -d out-theirs
done
pack_ours=${best_time[pack_ours]} pack_ours_rss=${best_rss[pack_ours]}
pack_ours1=${best_time[pack_ours1]} pack_ours1_rss=${best_rss[pack_ours1]}
pack_theirs=${best_time[pack_theirs]}
extract_ours=${best_time[extract_ours]} extract_ours_rss=${best_rss[extract_ours]}
extract_theirs=${best_time[extract_theirs]}
size_ours=$(stat -c %s ours.zip) size_ours1=$(stat -c %s ours1.zip) size_theirs=$(stat -c %s theirs.zip)
diff -rq out-ours out-theirs >/dev/null && diff -rq out-ours "$corpus" >/dev/null || { echo "extracted files differ" >&2; exit 1; }
"$ziptool" test ours.zip >/dev/null && unzip -tq ours.zip >/dev/null

echo
echo "load average before: $load_before, after: $(cut -d' ' -f1-3 /proc/loadavg) (other work on the machine slows both sides)"
echo "corpus: $files files, $((bytes >> 20)) MiB (text, binary, already compressed, one large file of $((total_mb * 40 / 100)) MiB); best of $runs runs"
printf '%-28s %12s %12s %22s\n' "" "ours" "Info-ZIP" "speed ours/Info-ZIP"
printf '%-28s %11ss %11ss %22s\n' "pack, both cores" "$pack_ours" "$pack_theirs" "$(ratio "$pack_theirs" "$pack_ours")"
printf '%-28s %11ss %12s %22s\n' "pack, one thread" "$pack_ours1" "" "$(ratio "$pack_theirs" "$pack_ours1")"
printf '%-28s %11ss %11ss %22s\n' "extract (Info-ZIP's archive)" "$extract_ours" "$extract_theirs" "$(ratio "$extract_theirs" "$extract_ours")"
echo
printf '%-28s %12s %12s %22s\n' "" "ours" "Info-ZIP" "size ours/Info-ZIP"
printf '%-28s %12s %12s %22s\n' "archive bytes, both cores" "$size_ours" "$size_theirs" "$(awk -v a="$size_ours" -v b="$size_theirs" 'BEGIN { printf "%.4f", a / b }')"
printf '%-28s %12s %12s %22s\n' "archive bytes, one thread" "$size_ours1" "$size_theirs" "$(awk -v a="$size_ours1" -v b="$size_theirs" 'BEGIN { printf "%.4f", a / b }')"
echo
echo "peak memory of ours: pack $((pack_ours_rss >> 10)) MiB (one thread $((pack_ours1_rss >> 10)) MiB), extract $((extract_ours_rss >> 10)) MiB"
[ -z "${2:-}" ] && rm -rf "$work"
exit 0
