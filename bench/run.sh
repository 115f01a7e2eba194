#!/usr/bin/env bash
# bench/run.sh BUILD_DIR [ROUNDS]
# Times korva-cli repair and DeleteChunk against cp of the same files, side by
# side in one run: the two commands alternate for ROUNDS (5) rounds and each
# figure is the ratio of the medians. Peak memory of korva-cli repair comes
# from /usr/bin/time -v. Needs about 7 GB free under BUILD_DIR/bench-data
# (or KORVA_BENCH_DIR).
set -euo pipefail

build=$(cd "${1:?usage: $0 BUILD_DIR [ROUNDS]}" && pwd)
rounds=${2:-5}
cli=$build/cli/korva-cli
files=$build/bench/korva-bench-files
data=${KORVA_BENCH_DIR:-$build/bench-data}
for tool in "$cli" "$files" /usr/bin/time; do
    [ -x "$tool" ] || { echo "missing $tool" >&2; exit 1; }
done
rm -rf "$data"
mkdir -p "$data"
trap 'rm -rf "$data"' EXIT

now() { date +%s%N; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# seconds NANOSECONDS
seconds() { awk -v n="$1" 'BEGIN { printf "%.3f", n / 1e9 }'; }

# ratio LABEL TARGET NUMERATOR_NS DENOMINATOR_NS
ratio() {
    awk -v label="$1" -v target="$2" -v a="$3" -v b="$4" 'BEGIN {
        r = a / b
        printf "%-44s %8.3f s %8.3f s   ratio %.2f (target <= %s) %s\n", label, a / 1e9, b / 1e9, r,
               target, (r <= target) ? "met" : "MISSED" }'
}

# batch LABEL TARGET COUNT BYTES: korva-cli repair against cp of COUNT files.
batch() {
    local label=$1 target=$2 count=$3 bytes=$4
    local src=$data/src dst=$data/dst
    rm -rf "$src" "$dst"
    mkdir -p "$src" "$dst"
    "$files" make "$src" "$count" "$bytes"
    local korva=() copy=()
    for ((r = 0; r < rounds; r++)); do
        rm -rf "$dst" && mkdir "$dst" && sync
        local t=$(now)
        find "$src" -name '*.wav' -print0 | xargs -0 cp -t "$dst"
        copy+=($(($(now) - t)))
        rm -rf "$dst" && mkdir "$dst" && sync
        t=$(now)
        find "$src" -name '*.wav' -print0 |
            xargs -0 "$cli" repair --dest "$dst" --rate 48000 --bits 24 --yes >/dev/null 2>&1
        korva+=($(($(now) - t)))
    done
    ratio "$label" "$target" "$(printf '%s\n' "${korva[@]}" | median)" \
        "$(printf '%s\n' "${copy[@]}" | median)"
    rm -rf "$src" "$dst"
}

# DeleteChunk of the JUNK chunk at the head of a 1 GiB file against cp of it.
delete_head() {
    local master=$data/master.wav work=$data/work.wav copy=$data/copy.wav
    "$files" head "$master" $((1 << 30))
    local korva=() cps=()
    for ((r = 0; r < rounds; r++)); do
        cp "$master" "$work" && rm -f "$copy" && sync
        local t=$(now)
        cp "$master" "$copy"
        cps+=($(($(now) - t)))
        sync
        t=$(now)
        "$files" delete "$work" JUNK
        korva+=($(($(now) - t)))
    done
    ratio "DeleteChunk at the head of 1 GiB vs cp" 1.5 "$(printf '%s\n' "${korva[@]}" | median)" \
        "$(printf '%s\n' "${cps[@]}" | median)"
    rm -f "$master" "$work" "$copy"
}

# Peak resident memory of korva-cli repair on a 1 GiB file whose data follows
# bext directly, so that the repair moves the whole GiB up by 24 bytes.
peak_memory() {
    local src=$data/src dst=$data/dst
    rm -rf "$src" "$dst"
    mkdir -p "$src" "$dst"
    "$files" make "$src" 1 $((1 << 30)) insert
    local kib
    kib=$(/usr/bin/time -v "$cli" repair --dest "$dst" --rate 48000 --bits 24 --yes "$src/take0.wav" \
        2>&1 >/dev/null | awk -F': ' '/Maximum resident set size/ { print $2 }')
    awk -v k="$kib" 'BEGIN { printf "%-44s %8.1f MiB                     (target <= 16 MiB) %s\n",
        "peak memory, korva-cli repair of 1 GiB", k / 1024, (k <= 16 * 1024) ? "met" : "MISSED" }'
    rm -rf "$src" "$dst"
}

echo "korva benchmark: $rounds rounds, medians; $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "data in $data ($(df -h --output=source,fstype "$data" | tail -1 | tr -s ' '))"
printf '%-44s %10s %10s\n' "" "korva" "cp"
batch "20 files of 50 MB: korva-cli repair vs cp" 1.10 20 50000000
batch "2000 files of 100 KB: korva-cli repair vs cp" 1.5 2000 100000
delete_head
peak_memory
