#!/usr/bin/env bash
# Builds the fuzz configuration and runs every reader's target for SECONDS on
# a copy of its seed corpus (the repository's corpus never grows). Exits
# non-zero when any target finds a crash, leak, hang, memory blow-up or
# undefined behaviour; the input that did it is left in the work directory.
#   fuzz/run-all.sh SECONDS [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:?usage: fuzz/run-all.sh SECONDS [TARGET...]}
shift
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(bmp jpg avi ser fits ini rtf list project)

CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$root/build-fuzz" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DPLANEXOR_FUZZ=ON >/dev/null
ninja -C "$root/build-fuzz" -j "$(nproc 2>/dev/null || echo 2)" "${targets[@]/#/fuzz_}"

# Shared memory when there is some: the INI target saves, and a save syncs.
work=$(mktemp -d "${PLANEXOR_FUZZ_WORK:-$([ -w /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")}/planexor-fuzz.XXXXXX")
export TMPDIR=$work
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=()
for target in "${targets[@]}"; do
    mkdir -p "$work/$target/corpus" "$work/$target/findings"
    cp "$root/fuzz/corpus/$target/"* "$work/$target/corpus/"
    dictionary=()
    [ -f "$root/fuzz/$target.dict" ] && dictionary=(-dict="$root/fuzz/$target.dict")
    echo "== $target: ${seconds} s"
    # -jobs writes its fuzz-0.log into the current directory.
    if ! (cd "$work/$target" && "$root/build-fuzz/fuzz/fuzz_$target" "$work/$target/corpus" "${dictionary[@]}" \
            -max_total_time="$seconds" -jobs=1 -workers=1 -rss_limit_mb=2048 -timeout=10 \
            -artifact_prefix="$work/$target/findings/" -print_final_stats=1 \
            >"$work/$target/log" 2>&1); then
        failed+=("$target")
    fi
    ls "$work/$target/findings" | grep -q . && [[ ! " ${failed[*]} " =~ " $target " ]] && failed+=("$target")
    grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb|DONE|cov:" "$work/$target/fuzz-0.log" | tail -3
done

if [ ${#failed[@]} -gt 0 ]; then
    for target in "${failed[@]}"; do
        echo "FINDING in $target: log $work/$target/fuzz-0.log, inputs in $work/$target/findings"
        grep -m1 -E "ERROR|runtime error|Reader fault|terminate" "$work/$target/fuzz-0.log" || true
    done
    exit 1
fi
rm -rf "$work"
echo "No findings."
