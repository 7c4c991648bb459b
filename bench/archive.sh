#!/usr/bin/env bash
# Packs and extracts a generated corpus with our archive code and with Debian's Info-ZIP, side by side in one run,
# and prints times, sizes, ratios and the core's peak memory. Ours is measured three ways: the core natively
# (ziptool), and the shipped zip32.dll/unzip32.dll of both Windows trees under Wine, driven by ArchiveDllBench
# exactly as Update.exe drives them, one Wine process per operation with Wine's start included.
# Best of BENCH_RUNS runs (3) per figure; the rounds interleave all sides, so that load from elsewhere on the
# machine falls on each alike.
# usage: bench/archive.sh ZIPTOOL [WORKDIR]
#   BENCH_MB     corpus size in MB (200)
#   BENCH_DLLS=0 leaves the DLLs out (otherwise build/win32 and build/win64 must hold ArchiveDllBench)
set -eu  # no pipefail: the corpus pipelines are cut short by head on purpose

root=$(cd "$(dirname "$0")/.." && pwd)
ziptool=$(realpath "$1")
runs=${BENCH_RUNS:-3}
total_mb=${BENCH_MB:-200}
measure_dlls=${BENCH_DLLS:-1}
for tool in zip unzip gzip perl /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "archive.sh: $tool is missing" >&2; exit 1; }
done

if [ "$measure_dlls" != 0 ]; then
  for tree in win32 win64; do
    for file in ArchiveDllBench.exe zip32.dll unzip32.dll; do
      [ -f "$root/build/$tree/bin/$file" ] || {
        echo "archive.sh: build/$tree/bin/$file is missing: cmake --build build/$tree --target ArchiveDllBench" \
             "(or BENCH_DLLS=0 to leave the DLLs out)" >&2
        exit 1
      }
    done
  done
  # Wine's prefix is made and its server started on a display, as for the tests.
  if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
  fi
  source "$root/scripts/lib/wine-env.sh"
  "$root/scripts/lib/wine-prefix.sh"
  trap '"$WINESERVER" -k 2>/dev/null || true' EXIT
fi

work=${2:-$(mktemp -d "${TMPDIR:-/tmp}/zipbench.XXXXXX")}
corpus=$work/corpus

# The corpus, the same on every machine (fixed seeds; Perl's rand is the same drand48 everywhere):
#   30% text in files of 8 KiB to 2 MiB, 20% structured binary records in files of the same sizes,
#   5% random bytes (photos) and 5% gzip output (packed documents) in four files each, one large file of 40%
#   with text and binary interleaved. At 200 MB that is about 235 files.
make_corpus() {
  rm -rf "$corpus" && mkdir -p "$corpus"
  perl - "$corpus" "$total_mb" <<'PERL'
use strict; use warnings;
my ($dir, $total_mb) = @ARGV;
my $MB = 1 << 20;
srand(20240601);

# Text: sentences of words of a made-up language whose word frequencies fall off as in real text.
my @syllables = map { my ($c, $v) = (int(rand(21)), int(rand(6)));
  substr('tnshrdlcmwfgypbvkjxqz', $c, 1) . substr('eaoiuy', $v, 1) . (rand() < 0.3 ? substr('nrstl', int(rand(5)), 1) : '') } 1 .. 120;
my @vocabulary = map { join '', map { $syllables[int(120 * rand() ** 2)] } 1 .. 1 + int(rand(3) ** 1.5) } 1 .. 8000;
my @sentences = map {
  my @words = map { $vocabulary[int(8000 * rand() ** 3)] } 1 .. 4 + int(rand(18));
  my $s = ucfirst(join ' ', @words) . ('.', '.', '.', '?', '!', ';')[int(rand(6))];
  $s .= "\n" if rand() < 0.2;
  $s
} 1 .. 30000;
sub text { my ($size) = @_; my $t = ''; $t .= $sentences[int(rand(@sentences))] . ' ' while length($t) < $size; substr($t, 0, $size) }

# Binary: fixed-size records of counters, small codes, names from a table and sparse values.
my @names = map { pack('A8', join '', map { chr(65 + int(rand(26))) } 1 .. 3 + int(rand(6))) } 1 .. 64;
my ($id, $clock) = (0, 1_600_000_000);
sub binary {
  my ($size) = @_; my $b = '';
  while (length($b) < $size) {
    $clock += int(rand(5));
    $b .= pack('VVvvA8VVV', $id++, $clock, int(rand(16)), int(rand(65536)), $names[int(rand(64))],
               rand() < 0.7 ? 0 : int(rand(1000)), int(rand(4)) << 20, rand() < 0.5 ? 0 : int(rand(2 ** 32)));
  }
  substr($b, 0, $size)
}
sub random_bytes { my ($size) = @_; substr(pack('V*', map { int(rand(2 ** 32)) } 1 .. $size / 4 + 1), 0, $size) }

sub put { my ($name, $data) = @_; open(my $f, '>:raw', "$dir/$name") or die "$name: $!"; print $f $data; close($f) }

# Pieces of 8 KiB << (index % 9): many small files and a few of several MiB, as in a program directory.
for my $kind (['text', '.txt', \&text, 0.30], ['binary', '.bin', \&binary, 0.20]) {
  my ($prefix, $suffix, $make, $share) = @$kind;
  my ($left, $index) = ($total_mb * $share * $MB, 0);
  while ($left > 0) {
    my $size = (8192 << ($index % 9)) < $left ? 8192 << ($index % 9) : $left;
    put("$prefix-$index$suffix", $make->($size));
    $left -= $size; $index++;
  }
}
for my $i (0 .. 3) {
  put("photo-$i.jpg", random_bytes(int($total_mb * 0.05 * $MB / 4)));
  put("docs-$i.txt", text(int($total_mb * 0.05 * $MB / 4 * 3)));  # gzip brings it to about a third
}
open(my $large, '>:raw', "$dir/large.dat") or die "large.dat: $!";
for (my $written = 0; $written < $total_mb * 0.40 * $MB; $written += 2 * $MB) { print $large text($MB), binary($MB) }
close($large);
PERL
  for i in 0 1 2 3; do gzip -n -6 "$corpus/docs-$i.txt"; done
}

# measure NAME PREPARE COMMAND...: runs PREPARE (a shell snippet), then the command under /usr/bin/time, keeping
# the fastest time and the largest peak memory seen for NAME.
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
size_ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", a / b }'; }
# goal VALUE OP LIMIT: "met" or "MISSED"
goal() { awk -v v="$1" -v l="$3" -v op="$2" 'BEGIN { ok = (op == ">=") ? v >= l : v <= l; print ok ? "met" : "MISSED" }'; }

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
echo "Generating a corpus of about $total_mb MB in $corpus ..."
make_corpus
files=$(find "$corpus" -type f | wc -l)
bytes=$(du -sb "$corpus" | cut -f1)
cd "$work"
corpus_files=(corpus/*)

bitnesses=()
[ "$measure_dlls" != 0 ] && bitnesses=(32 64)
wine_for() { if [ "$1" = 32 ]; then echo "$WINE32"; else echo "$WINE"; fi; }

for ((round = 0; round < runs; round++)); do
  measure pack_ours 'rm -f ours.zip' "$ziptool" create ours.zip "${corpus_files[@]}"
  measure pack_theirs 'rm -f theirs.zip' zip -q -6 -j theirs.zip "${corpus_files[@]}"
  measure pack_ours1 'rm -f ours1.zip' "$ziptool" create --threads 1 ours1.zip "${corpus_files[@]}"
  for bits in "${bitnesses[@]}"; do
    measure "pack_dll$bits" "rm -f dll$bits.zip" "$(wine_for "$bits")" \
      "$root/build/win$bits/bin/ArchiveDllBench.exe" pack "dll$bits.zip" "${corpus_files[@]}"
  done
  # Every side extracts the same archive, Info-ZIP's own.
  measure extract_ours 'rm -rf out-ours' "$ziptool" extract theirs.zip out-ours
  measure extract_theirs 'rm -rf out-theirs' unzip -o -q -j theirs.zip -d out-theirs
  for bits in "${bitnesses[@]}"; do
    measure "extract_dll$bits" "rm -rf out-dll$bits" "$(wine_for "$bits")" \
      "$root/build/win$bits/bin/ArchiveDllBench.exe" extract theirs.zip "out-dll$bits"
  done
done

# What each side wrote must be right before its time means anything.
outputs=(out-ours out-theirs) archives=(ours.zip ours1.zip)
for bits in "${bitnesses[@]}"; do outputs+=("out-dll$bits") archives+=("dll$bits.zip"); done
for out in "${outputs[@]}"; do
  diff -rq "$out" "$corpus" >/dev/null || { echo "archive.sh: $out differs from the corpus" >&2; exit 1; }
done
for archive in "${archives[@]}"; do
  "$ziptool" test "$archive" >/dev/null && unzip -tq "$archive" >/dev/null ||
    { echo "archive.sh: $archive does not test clean" >&2; exit 1; }
done

theirs_pack=${best_time[pack_theirs]} theirs_extract=${best_time[extract_theirs]}
size_theirs=$(stat -c %s theirs.zip)
row() {  # row LABEL SECONDS THEIR_SECONDS [ARCHIVE]
  local size="" relative=""
  if [ -n "${4:-}" ]; then size=$(stat -c %s "$4"); relative=$(size_ratio "$size" "$size_theirs"); fi
  printf '%-40s %9ss %10s %14s %10s\n' "$1" "$2" "$(ratio "$3" "$2")" "$size" "$relative"
}

echo
echo "load average before: $load_before, after: $(cut -d' ' -f1-3 /proc/loadavg) (other work on the machine slows every side)"
echo "corpus: $files files, $((bytes >> 20)) MiB (text, binary, random, gzip, one large file of $((total_mb * 40 / 100)) MiB); best of $runs runs"
echo
printf '%-40s %10s %10s %14s %10s\n' "" "time" "speed" "archive bytes" "size"
printf '%-40s %9ss %10s %14s %10s\n' "pack, Info-ZIP zip -6 -j" "$theirs_pack" "1.00x" "$size_theirs" "1.0000"
row "pack, core natively, all cores" "${best_time[pack_ours]}" "$theirs_pack" ours.zip
row "pack, core natively, one thread" "${best_time[pack_ours1]}" "$theirs_pack" ours1.zip
for bits in "${bitnesses[@]}"; do
  row "pack, zip32.dll $bits-bit under Wine" "${best_time[pack_dll$bits]}" "$theirs_pack" "dll$bits.zip"
done
printf '%-40s %9ss %10s\n' "extract, Info-ZIP unzip -o -j" "$theirs_extract" "1.00x"
row "extract, core natively" "${best_time[extract_ours]}" "$theirs_extract"
for bits in "${bitnesses[@]}"; do
  row "extract, unzip32.dll $bits-bit under Wine" "${best_time[extract_dll$bits]}" "$theirs_extract"
done
echo "(speed: Info-ZIP's time / ours; size: our archive / Info-ZIP's)"
echo
pack_rss=${best_rss[pack_ours]} extract_rss=${best_rss[extract_ours]}
echo "peak memory of the core: pack $((pack_rss >> 10)) MiB (one thread $((best_rss[pack_ours1] >> 10)) MiB), extract $((extract_rss >> 10)) MiB"
peak=$(( pack_rss > extract_rss ? pack_rss : extract_rss ))
echo "goal, core peak memory <= 8 MiB: $(goal "$peak" "<=" 8192)"
if [ "$measure_dlls" != 0 ]; then
  pack_speed=$(awk -v a="$theirs_pack" -v b="${best_time[pack_dll32]}" 'BEGIN { print a / b }')
  pack_size=$(size_ratio "$(stat -c %s dll32.zip)" "$size_theirs")
  extract_speed=$(awk -v a="$theirs_extract" -v b="${best_time[extract_dll32]}" 'BEGIN { print a / b }')
  echo "goal, pack through the 32-bit zip32.dll >= 1.60x zip -6: $(goal "$pack_speed" ">=" 1.6)," \
       "archive within +1%: $(goal "$pack_size" "<=" 1.01)"
  echo "goal, extract through the 32-bit unzip32.dll >= 1.50x unzip: $(goal "$extract_speed" ">=" 1.5)"
else
  echo "the DLLs were left out (BENCH_DLLS=0)"
fi
[ -z "${2:-}" ] && rm -rf "$work"
exit 0
