#!/usr/bin/env bash
# bench/run.sh BUILD_DIR [ROUNDS] [shared|window|overview|copies|rescue]   (only the
# rows on XFS and btrfs, only the window's, only a take's overview, only the
# copies' against cp on the build's own disk, or only the card rescue's)
# Times korva-cli repair against cp of the same files, side by side in one run:
# the two alternate (korva first in odd rounds, cp first in even ones) for
# ROUNDS (5) rounds, each into a fresh destination folder and after a sync,
# and each figure is the ratio of the medians. Thousands of small copies are
# deleted only after a row: on ext4 a folder of thousands of files just deleted
# makes every later file creation slower, which hides a difference in the
# programs under one in the disk. A few large copies go as soon as they are timed.
# korva flushes the destination's file system once at the end of each batch,
# so cp's side is followed by the same flush (sync -f) of its folder.
# Also: what that flush costs korva, system calls per file (strace -c -f on
# 200 small files, korva and cp), DeleteChunk against cp, the peak memory of a
# repair that inserts, and 5000 files through the window against korva-cli
# (its time, and the longest the window's interface thread is kept from its
# event loop); 200 takes of 100 MB listed in the window until every waveform
# is in (warm: the second of two listings), the longest wait of the interface
# thread meanwhile and the peak memory. A take's overview (levels and
# envelope) of 100 MB and 4 GiB: its warm time and the bytes it reads.
# On loop-mounted XFS and btrfs images, whose files share blocks, the large
# takes again: time and the new space each side used (df before and after a
# sync); skipped with the reason where no image can be made or mounted.
# The card rescue: 4 GiB FAT32 and exFAT card images holding a day's takes
# lost to a power cut (3.3 GB of audio), korva-cli rescue against dd of the
# image to /dev/null, with the image in the page cache and without it (its
# pages dropped with posix_fadvise DONTNEED, by dd's iflag=nocache), each run
# into a fresh folder; the peak memory; PhotoRec's takes from the same images
# beside korva's (whole takes, frames, foreign frames); the same card read
# through a card reader's speed (a loop device throttled to 90 MiB/s); and
# the peak memory of a rescue from a sparse 1 TiB exFAT card.
# Needs about 20 GB free under BUILD_DIR/bench-data (or KORVA_BENCH_DIR).
set -euo pipefail

build=$(cd "${1:?usage: $0 BUILD_DIR [ROUNDS]}" && pwd)
rounds=${2:-5}
only=${3:-}
cli=$build/cli/korva-cli
files=$build/bench/korva-bench-files
data=${KORVA_BENCH_DIR:-$build/bench-data}
window=$build/bench/korva-bench-window
tools=("$cli" "$files")
case "$only" in
shared | overview) ;;
rescue) tools+=(/usr/bin/time strace photorec mkfs.vfat mkfs.exfat) ;;
*) tools+=("$window" /usr/bin/time strace photorec mkfs.vfat mkfs.exfat) ;;
esac
for tool in "${tools[@]}"; do
    command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done
rm -rf "$data"
mkdir -p "$data"
reader=
trap '[ -z "$reader" ] || losetup -d "$reader"; umount "$data/xfs" "$data/btrfs" 2>/dev/null || :; rm -rf "$data"' EXIT

now() { date +%s%N; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# ratio LABEL TARGET NUMERATOR_NS DENOMINATOR_NS (TARGET "": none)
ratio() {
    awk -v label="$1" -v target="$2" -v a="$3" -v b="$4" 'BEGIN {
        r = a / b
        printf "%-46s %8.3f s %8.3f s   ratio %.2f ", label, a / 1e9, b / 1e9, r
        if (target == "") print "(no target)"
        else printf "(target <= %s) %s\n", target, (r <= target) ? "met" : "MISSED" }'
}

# batch LABEL TARGET COUNT BYTES remains|insert: korva-cli repair against cp.
batch() {
    local label=$1 target=$2 count=$3 bytes=$4 kind=$5
    local src=$data/src
    rm -rf "$src" && mkdir -p "$src"
    "$files" make "$src" "$count" "$bytes" "$kind"
    sync
    # ext4 without a journal (this disk) passes over inodes freed in the last
    # dirty_expire_centisecs (30 s) when it makes a file: the first rounds of a
    # row begun right after the last row's thousands of deletions paid for
    # them, and korva, first in round 1, paid most. The rounds wait them out.
    ((count <= 20)) || sleep $(($(cat /proc/sys/vm/dirty_expire_centisecs) / 100 + 1))
    local korva=() copy=() t
    for ((r = 0; r < rounds; r++)); do
        mkdir "$data/k$r" "$data/c$r"
        for side in $( ((r % 2 == 0)) && echo "korva cp" || echo "cp korva"); do
            # Each side starts with nothing left to write back: otherwise the
            # side that follows pays for the gigabyte the other one left dirty.
            sync
            t=$(now)
            if [ "$side" = korva ]; then
                find "$src" -name '*.wav' -print0 |
                    xargs -0 "$cli" repair --dest "$data/k$r" --rate 48000 --bits 24 --channels 1 --yes >/dev/null 2>&1
                korva+=($(($(now) - t)))
            else
                find "$src" -name '*.wav' -print0 | xargs -0 cp -t "$data/c$r"
                sync -f "$data/c$r"
                copy+=($(($(now) - t)))
            fi
            # A few large copies go as soon as they are timed: gigabytes of
            # earlier rounds' copies in the page cache would make the kernel
            # reclaim memory during later rounds, and that, not the program,
            # decided their times. Thousands of small ones stay (see above).
            # Thousands of small ones stay on the disk but leave the page
            # cache: seven rounds of 10000 left 14 GB there, and korva's side
            # took 3.2 s instead of 2.0 s once the kernel began to reclaim it.
            if ((count <= 20)); then
                if [ "$side" = korva ]; then rm -rf "$data/k$r"; else rm -rf "$data/c$r"; fi
            elif [ "$side" = korva ]; then
                "$files" uncache "$data/k$r"
            else
                "$files" uncache "$data/c$r"
            fi
        done
    done
    ratio "$label" "$target" "$(printf '%s\n' "${korva[@]}" | median)" \
        "$(printf '%s\n' "${copy[@]}" | median)"
    rm -rf "$src" "$data"/k* "$data"/c*
}

# flush LABEL COUNT BYTES: the seconds korva-cli repair spends in its one
# syncfs at the end of the batch, against the whole run (medians).
flush() {
    local label=$1 count=$2 bytes=$3 src=$data/src
    rm -rf "$src" && mkdir -p "$src"
    "$files" make "$src" "$count" "$bytes" remains
    local flushes=() runs=() t
    for ((r = 0; r < rounds; r++)); do
        mkdir "$data/f$r"
        sync
        t=$(now)
        find "$src" -name '*.wav' -print0 |
            xargs -0 strace --seccomp-bpf -f -T -e trace=syncfs -o "$data/flush.strace" \
                "$cli" repair --dest "$data/f$r" --rate 48000 --bits 24 --channels 1 --yes >/dev/null 2>&1
        runs+=($(($(now) - t)))
        flushes+=($(awk -F'<' '/syncfs/ { s += $NF } END { printf "%d", s * 1e9 }' "$data/flush.strace"))
        rm -rf "$data/f$r"
    done
    awk -v label="$label" -v f="$(printf '%s\n' "${flushes[@]}" | median)" \
        -v t="$(printf '%s\n' "${runs[@]}" | median)" 'BEGIN {
        printf "%-46s %8.3f s of %.3f s (%.0f%%)   (no target)\n", label, f / 1e9, t / 1e9, 100 * f / t }'
    rm -rf "$src"
}

# 5000 files of 10 KB through the window (offscreen, settings of its own)
# against korva-cli: the times, and the longest the interface thread went
# without its event loop during the window's batch.
window() {
    local src=$data/src
    rm -rf "$src" && mkdir -p "$src" "$data/kw" "$data/ww" "$data/settings"
    "$files" make "$src" 5000 10000 remains
    sync
    local t k
    t=$(now)
    find "$src" -name '*.wav' -print0 |
        xargs -0 "$cli" repair --dest "$data/kw" --rate 44100 --bits 24 --channels 1 --yes >/dev/null 2>&1
    k=$(($(now) - t))
    sync
    local line
    line=$(XDG_CONFIG_HOME=$data/settings QT_QPA_PLATFORM=offscreen "$window" "$src" "$data/ww" 2>/dev/null)
    echo "window: $line"
    awk -v k="$k" -v line="$line" 'BEGIN {
        split(line, w, "batch "); split(w[2], b, " "); n = split(line, m, "at most "); split(m[2], ms, " ")
        printf "%-46s %8.3f s %8.3f s   ratio %.2f (target <= 1.25) %s\n", "5000 x 10 KB: window, korva-cli",
            b[1], k / 1e9, b[1] * 1e9 / k, (b[1] * 1e9 / k <= 1.25) ? "met" : "MISSED"
        printf "%-46s %8.0f ms                      (target <= 100 ms) %s\n",
            "window: interface thread blocked at most", ms[1], (ms[1] <= 100) ? "met" : "MISSED" }'
    rm -rf "$src" "$data/kw" "$data/ww"
}

# 200 takes of 100 MB (real bytes, no sparse file) listed in the window twice;
# the second listing, on the page cache the first warmed, is timed until every
# row's waveform is in.
thumbnails() {
    local src=$data/src
    rm -rf "$src" && mkdir -p "$src" "$data/settings"
    "$files" make "$src" 200 100000000 remains
    local line
    line=$(XDG_CONFIG_HOME=$data/settings QT_QPA_PLATFORM=offscreen "$window" --overviews "$src" 2>/dev/null)
    echo "window: $line"
    awk -v line="$line" 'BEGIN {
        split(line, w, "in "); split(w[2], s, " "); split(line, m, "at most "); split(m[2], ms, " ")
        split(line, p, "peak memory "); split(p[2], mib, " ")
        printf "%-46s %8.3f s                      (target <= 5 s) %s\n", "200 x 100 MB: every waveform in",
            s[1], (s[1] <= 5) ? "met" : "MISSED"
        printf "%-46s %8.0f ms                      (target <= 50 ms) %s\n",
            "waveforms: interface thread blocked at most", ms[1], (ms[1] <= 50) ? "met" : "MISSED"
        printf "%-46s %8.0f MiB                     (target <= 100 MiB) %s\n",
            "waveforms: peak memory", mib[1], (mib[1] <= 100) ? "met" : "MISSED" }'
    rm -rf "$src"
}

# System calls per file, korva-cli repair and cp, on 200 files of 100 KB.
syscalls() {
    local src=$data/src
    rm -rf "$src" && mkdir -p "$src" "$data/ks" "$data/cs"
    "$files" make "$src" 200 100000 remains
    strace -c -f -o "$data/korva.strace" "$cli" repair --dest "$data/ks" --rate 48000 --bits 24 --channels 1 \
        --yes "$src"/*.wav >/dev/null 2>&1
    strace -c -f -o "$data/cp.strace" cp -t "$data/cs" "$src"/*.wav
    local k c
    k=$(awk '$NF == "total" { print $4 / 200 }' "$data/korva.strace")
    c=$(awk '$NF == "total" { print $4 / 200 }' "$data/cp.strace")
    awk -v k="$k" -v c="$c" 'BEGIN { printf "%-46s %8.1f   %8.1f                 (target <= 20) %s\n",
        "system calls per file of 100 KB: korva, cp", k, c, (k <= 20) ? "met" : "MISSED" }'
    rm -rf "$src" "$data/ks" "$data/cs"
}

# DeleteChunk of the JUNK chunk at the head of a 1 GiB file against cp of it.
delete_head() {
    local master=$data/master.wav
    "$files" head "$master" $((1 << 30))
    local korva=() cps=() t
    for ((r = 0; r < rounds; r++)); do
        cp "$master" "$data/work$r.wav" && sync
        t=$(now)
        cp "$master" "$data/copy$r.wav"
        cps+=($(($(now) - t)))
        t=$(now)
        "$files" delete "$data/work$r.wav" JUNK
        korva+=($(($(now) - t)))
    done
    ratio "DeleteChunk at the head of 1 GiB vs cp" 1.5 "$(printf '%s\n' "${korva[@]}" | median)" \
        "$(printf '%s\n' "${cps[@]}" | median)"
    rm -f "$master" "$data"/work*.wav "$data"/copy*.wav
}

# Peak resident memory of korva-cli repair of a 1 GiB file whose data follows
# bext directly: the chunk is inserted and the whole GiB shifted by 24 bytes.
peak_memory() {
    local src=$data/src dst=$data/dst
    rm -rf "$src" "$dst" && mkdir -p "$src" "$dst"
    "$files" make "$src" 1 $((1 << 30)) insert
    local kib
    kib=$(/usr/bin/time -v "$cli" repair --dest "$dst" --rate 48000 --bits 24 --channels 1 --yes "$src/take0.wav" \
        2>&1 >/dev/null | awk -F': ' '/Maximum resident set size/ { print $2 }')
    awk -v k="$kib" 'BEGIN { printf "%-46s %8.1f MiB                     (target <= 16 MiB) %s\n",
        "peak memory, korva-cli repair of 1 GiB", k / 1024, (k <= 16 * 1024) ? "met" : "MISSED" }'
    rm -rf "$src" "$dst"
}

# shared FSTYPE: korva-cli against cp on a loop-mounted image of that file
# system (both sides' sources and copies on it): the medians of the times, and
# the space each side's copies took in the last round. cp (coreutils 9) clones
# where the file system can.
shared() {
    local fs=$1 image=$data/$1.img mnt=$data/$1 row count bytes kind side t before
    truncate -s 12G "$image"
    if ! "mkfs.$fs" -q "$image" >/dev/null 2>&1; then
        echo "$fs rows skipped: mkfs.$fs cannot make an image here (xfsprogs, btrfs-progs)"
        rm -f "$image"
        return
    fi
    mkdir -p "$mnt"
    if ! mount -o loop "$image" "$mnt" 2>/dev/null; then
        echo "$fs rows skipped: a loop image cannot be mounted here (needs root and loop devices)"
        rm -f "$image"
        return
    fi
    used() { sync && df --output=used -B1 "$mnt" | tail -1; }
    for row in "20 50000000 remains 20 x 50 MB" "20 50000000 insert 20 x 50 MB" \
        "1 1073741824 remains 1 GiB" "1 1073741824 insert 1 GiB"; do
        read -r count bytes kind label <<<"$row"
        mkdir -p "$mnt/src"
        "$files" make "$mnt/src" "$count" "$bytes" "$kind"
        local korva=() copy=() space_k=0 space_c=0
        for ((r = 0; r < rounds; r++)); do
            for side in $( ((r % 2 == 0)) && echo "korva cp" || echo "cp korva"); do
                mkdir "$mnt/out"
                before=$(used)
                t=$(now)
                if [ "$side" = korva ]; then
                    "$cli" repair --dest "$mnt/out" --rate 48000 --bits 24 --channels 1 --yes "$mnt"/src/*.wav >/dev/null 2>&1
                    korva+=($(($(now) - t)))
                    space_k=$(($(used) - before))
                else
                    cp -t "$mnt/out" "$mnt"/src/*.wav
                    sync -f "$mnt/out"
                    copy+=($(($(now) - t)))
                    space_c=$(($(used) - before))
                fi
                rm -rf "$mnt/out"
            done
        done
        kind=${kind/insert/chunk inserted}
        ratio "$fs: $label, ${kind/remains/written over remains}" "" \
            "$(printf '%s\n' "${korva[@]}" | median)" "$(printf '%s\n' "${copy[@]}" | median)"
        awk -v k="$space_k" -v c="$space_c" 'BEGIN { printf "%-46s %8.1f MiB %6.1f MiB new space\n", "", k / 1048576, c / 1048576 }'
        rm -rf "$mnt/src"
    done
    # A take lost to a power cut, rescued from a card image on the same file
    # system: the card's clusters lie on block boundaries of the image, so the
    # rescued take shares them. Beside it, the same rescue to the ext4 disk,
    # where every byte is written.
    "$files" card "$mnt/card.img" 1200 $((1 << 30))
    local shared_t=() plain_t=() space_r=0
    for ((r = 0; r < rounds; r++)); do
        mkdir "$mnt/out" "$data/out"
        sync
        before=$(used)
        t=$(now)
        "$cli" rescue "$mnt/card.img" --dest "$mnt/out" >/dev/null 2>&1
        shared_t+=($(($(now) - t)))
        space_r=$(($(used) - before))
        t=$(now)
        "$cli" rescue "$mnt/card.img" --dest "$data/out" >/dev/null 2>&1
        plain_t+=($(($(now) - t)))
        rm -rf "$mnt/out" "$data/out"
    done
    ratio "$fs: rescue of a 1 GiB lost take (against ext4)" "" \
        "$(printf '%s\n' "${shared_t[@]}" | median)" "$(printf '%s\n' "${plain_t[@]}" | median)"
    awk -v k="$space_r" 'BEGIN { printf "%-46s %8.1f MiB new space\n", "", k / 1048576 }'
    rm -f "$mnt/card.img"
    umount "$mnt"
    rm -f "$image"
}

# overview LABEL BYTES [sparse]: a take's overview (levels and a 1000-column
# envelope), warm: the median time of ROUNDS runs and the bytes read. A sparse
# take is all holes, read as zeros without a disk: the row then shows what the
# spread windows cost on a take of that size, not the disk.
overview() {
    local label=$1 bytes=$2 take=$data/overview.wav line
    if [ "${3:-}" = sparse ]; then
        truncate -s "$bytes" "$take"
    else
        "$files" make "$data" 1 "$bytes" remains
        mv "$data/take0.wav" "$take"
    fi
    line=$("$files" overview "$take" "$rounds")
    awk -v label="$label" -v line="$line" 'BEGIN {
        split(line, f, " ")
        printf "%-46s %8.2f ms %10d bytes read   (target <= 25 ms, <= 4 MiB) %s\n", label, f[1], f[3],
            (f[1] <= 25 && f[3] <= 4194304) ? "met" : "MISSED" }'
    rm -f "$take"
}

# compare LABEL TAKES FILE...: the files one program returned, held against
# the audio of each take that reached the card.
compare() {
    local label=$1 takes=$2
    shift 2
    local line
    line=$("$files" compare "$takes" "$@" | tail -1)
    awk -v label="$label" -v line="$line" 'BEGIN { n = split(line, w, " ")
        for (i = 2; i < n; i += 2) v[w[i]] = w[i + 1]
        printf "%-46s %s of %s takes whole, %s of their frames, %s files, %s with foreign audio (%s frames)\n",
            label, v["whole"], v["takes"], v["frames"], v["files"], v["with-foreign"], v["foreign-frames"] }'
}

# rescue_reader FS IMAGE OUT: the card read as through a card reader, cold:
# the image as a read-only loop device whose reads a blkio cgroup holds to
# 90 MiB/s (a UHS-I reader's speed); korva-cli rescue of the device against
# dd of it. Skipped, with the reason, where no loop device or no throttle can
# be set up (needs root and cgroup v1's blkio).
rescue_reader() {
    local fs=$1 image=$2 out=$3 group=/sys/fs/cgroup/blkio/korva-bench-reader side t r
    local label="$fs 4 GiB card through a card reader"
    local korva=() reads=()
    if ! reader=$(losetup -f --show -r "$image" 2>/dev/null); then
        echo "$label: skipped (no loop device can be set up here)"
        reader=
        return
    fi
    if ! { mkdir -p "$group" &&
        echo "$(lsblk -dno MAJ:MIN "$reader" | tr -d ' ') $((90 << 20))" \
            >"$group/blkio.throttle.read_bps_device"; } 2>/dev/null; then
        echo "$label: skipped (no blkio cgroup to hold its reads to a reader's speed)"
        losetup -d "$reader"
        reader=
        return
    fi
    for ((r = 0; r < rounds; r++)); do
        for side in $( ((r % 2 == 0)) && echo "korva dd" || echo "dd korva"); do
            [ "$side" = korva ] && rm -rf "$out" && mkdir "$out"
            sync
            blockdev --flushbufs "$reader"
            dd if="$image" iflag=nocache count=0 status=none
            t=$(now)
            if [ "$side" = korva ]; then
                sh -c 'echo $$ >"$0/cgroup.procs" && exec "$@"' "$group" \
                    "$cli" rescue "$reader" --dest "$out" >/dev/null 2>&1
                korva+=($(($(now) - t)))
            else
                sh -c 'echo $$ >"$0/cgroup.procs" && exec "$@"' "$group" \
                    dd if="$reader" of=/dev/null bs=4M status=none
                reads+=($(($(now) - t)))
            fi
        done
    done
    losetup -d "$reader"
    reader=
    rmdir "$group"
    ratio "$label, cold: rescue, dd" 1.25 "$(printf '%s\n' "${korva[@]}" | median)" \
        "$(printf '%s\n' "${reads[@]}" | median)"
    compare "$fs: korva-cli rescue through the reader" "$takes" $(find "$out" -type f)
}

# rescue_card FS: korva-cli rescue of a 4 GiB card image against dd of it, warm
# and cold; the peak memory; PhotoRec's takes beside korva's.
rescue_card() {
    local fs=$1 image=$data/card-$1.img takes=$data/takes-$1 out=$data/out cache side t r kib
    mkdir -p "$takes"
    "$files" card "$image" 4096 750000000 "$fs" "$takes"
    sync
    local peak=0 warm_dd
    for cache in warm cold; do
        local korva=() flushes=() reads=()
        cat "$image" >/dev/null
        for ((r = 0; r < rounds; r++)); do
            for side in $( ((r % 2 == 0)) && echo "korva dd" || echo "dd korva"); do
                [ "$side" = korva ] && rm -rf "$out" && mkdir "$out"
                sync
                [ "$cache" = cold ] && dd if="$image" iflag=nocache count=0 status=none
                t=$(now)
                if [ "$side" = korva ]; then
                    # --seccomp-bpf: strace stops the rescue only at the call it
                    # times; without it every one of its 190 000 system calls
                    # waited for strace (5.2 s became 13.8 s).
                    kib=$(strace --seccomp-bpf -f -T -e trace=syncfs -o "$data/flush.strace" /usr/bin/time -f %M \
                        "$cli" rescue "$image" --dest "$out" 2>&1 >/dev/null | tail -1)
                    korva+=($(($(now) - t)))
                    flushes+=($(awk -F'<' '/syncfs/ { s += $NF } END { printf "%.0f", s * 1e9 }' "$data/flush.strace"))
                    peak=$((kib > peak ? kib : peak))
                else
                    dd if="$image" of=/dev/null bs=4M status=none
                    reads+=($(($(now) - t)))
                fi
            done
        done
        local k f d
        k=$(printf '%s\n' "${korva[@]}" | median)
        f=$(printf '%s\n' "${flushes[@]}" | median)
        d=$(printf '%s\n' "${reads[@]}" | median)
        [ "$cache" = warm ] && warm_dd=$d
        ratio "$fs 4 GiB card, $cache: rescue, dd" 1.25 "$k" "$d"
        ratio "$fs 4 GiB card, $cache: rescue but its flush, dd" 1.25 "$((k - f))" "$d"
    done
    rescue_reader "$fs" "$image" "$out"
    # What writing the takes alone costs, found or not: cp of the takes korva
    # wrote (read from the page cache) into a fresh folder, and the flush.
    local floor=()
    for ((r = 0; r < rounds; r++)); do
        rm -rf "$data/floor" && sync
        t=$(now)
        cp -r "$out" "$data/floor" && sync -f "$data/floor"
        floor+=($(($(now) - t)))
    done
    rm -rf "$data/floor"
    ratio "$fs 4 GiB card, warm: cp of its takes and flush, dd" "" \
        "$(printf '%s\n' "${floor[@]}" | median)" "$warm_dd"
    awk -v k="$peak" -v fs="$fs" 'BEGIN { printf "%-46s %8.1f MiB                     (target <= 64 MiB) %s\n",
        "peak memory, rescue of the " fs " card", k / 1024, (k <= 64 * 1024) ? "met" : "MISSED" }'
    compare "$fs: korva-cli rescue" "$takes" $(find "$out" -type f)
    for options in "" "options,keep_corrupted_file,"; do
        rm -rf "$data/pr" && mkdir "$data/pr"
        photorec /d "$data/pr/r" /cmd "$image" "${options}fileopt,everything,disable,riff,enable,search" \
            >/dev/null 2>&1 || :
        compare "$fs: photorec${options:+ keeping corrupted files}" "$takes" \
            $(find "$data/pr" -type f -name '*.wav')
    done
    rm -rf "$image" "$takes" "$out" "$data/pr"
}

# The peak memory of a rescue from a sparse 1 TiB exFAT card (128 KiB
# clusters) holding one lost take of 1 GiB.
rescue_terabyte() {
    local image=$data/card-1t.img out=$data/out kib t
    "$files" card "$image" 1048576 $((1 << 30)) exfat
    rm -rf "$out" && mkdir "$out"
    t=$(now)
    kib=$(/usr/bin/time -f %M "$cli" rescue "$image" --dest "$out" 2>&1 >/dev/null | tail -1)
    awk -v k="$kib" -v t="$(($(now) - t))" 'BEGIN { printf "%-46s %8.1f MiB in %.1f s            (target <= 64 MiB) %s\n",
        "peak memory, rescue of a 1 TiB exFAT card", k / 1024, t / 1e9, (k <= 64 * 1024) ? "met" : "MISSED" }'
    rm -rf "$image" "$out"
}

echo "korva benchmark: $rounds rounds, medians; $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "data in $data ($(df -h --output=source,fstype "$data" | tail -1 | tr -s ' '))"
printf '%-46s %10s %10s\n' "" "korva" "cp"
if [ "$only" = shared ]; then
    shared xfs
    shared btrfs
    exit 0
fi
if [ "$only" = window ]; then
    window
    thumbnails
    exit 0
fi
if [ "$only" = rescue ]; then
    rescue_card fat32
    rescue_card exfat
    rescue_terabyte
    exit 0
fi
if [ "$only" = overview ]; then
    overview "overview: a 100 MB take" 100000000
    overview "overview: a 4 GiB take (sparse)" $((4 << 30)) sparse
    exit 0
fi
batch "20 x 50 MB, written over remains" 1.05 20 50000000 remains
batch "20 x 50 MB, chunk inserted" 1.2 20 50000000 insert
batch "1 GiB, written over remains" 1.05 1 $((1 << 30)) remains
batch "1 GiB, chunk inserted" 1.2 1 $((1 << 30)) insert
if [ "$only" != copies ]; then
    batch "3 GiB, written over remains" "" 1 $((3 << 30)) remains
    batch "3 GiB, chunk inserted" "" 1 $((3 << 30)) insert
fi
batch "2000 x 100 KB, written over remains" 1.25 2000 100000 remains
batch "10000 x 100 KB, written over remains" 1.25 10000 100000 remains
if [ "$only" = copies ]; then
    syscalls
    exit 0
fi
flush "flush: 2000 x 100 KB" 2000 100000
flush "flush: 1 GiB" 1 $((1 << 30))
syscalls
delete_head
peak_memory
window
thumbnails
overview "overview: a 100 MB take" 100000000
overview "overview: a 4 GiB take (sparse)" $((4 << 30)) sparse
shared xfs
shared btrfs
rescue_card fat32
rescue_card exfat
rescue_terabyte
