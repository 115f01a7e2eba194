#!/usr/bin/env bash
# fuzz/run-all.sh FUZZ_BUILD_DIR [SECONDS]
# Writes the seed corpora, then runs every fuzz target for SECONDS (60) each,
# as many at a time as the machine has cores.
# Exits non-zero when any target finds a crash, a sanitizer report, a leak or
# a hang; the input that caused it is kept under FUZZ_BUILD_DIR/findings.
set -uo pipefail

dir=$(cd "${1:?usage: $0 FUZZ_BUILD_DIR [SECONDS]}" && pwd)
seconds=${2:-60}
targets=(fuzz-walk fuzz-repair fuzz-delete-chunk fuzz-new-file fuzz-evidence)
cores=$(nproc 2>/dev/null || echo 2)

"$dir/korva-fuzz-seeds" "$dir/corpus" || exit 1
mkdir -p "$dir/findings"

# One target: its findings (a crash, a sanitizer report, a leak, a hang) fail it.
run() {
    local t=$1
    # -timeout: one input may take at most 10 s, or it counts as a hang.
    "$dir/$t" "$dir/corpus/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$dir/findings/$t-" -print_final_stats=1 >"$dir/$t.log" 2>&1
}

failed=()
for ((i = 0; i < ${#targets[@]}; i += cores)); do
    batch=("${targets[@]:i:cores}")
    pids=()
    for t in "${batch[@]}"; do
        echo "== $t: ${seconds}s"
        run "$t" &
        pids+=($!)
    done
    for j in "${!batch[@]}"; do
        t=${batch[$j]}
        if wait "${pids[$j]}"; then
            grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)' "$dir/$t.log" | sed "s/^/$t: /" || true
        else
            failed+=("$t")
            tail -n 60 "$dir/$t.log"
        fi
    done
done

if [ ${#failed[@]} -ne 0 ]; then
    echo "FUZZ FINDINGS in: ${failed[*]} (inputs in $dir/findings)" >&2
    exit 1
fi
echo "fuzz: no findings in ${targets[*]}"
