#!/usr/bin/env bash
# Runs the nesting stress (stress/nesting_stress.cpp) many times under one or
# more OpenMP runtimes and counts the runs that end by a signal, an error or a
# hang. Each run is one process: a race in the runtime's start-up of threads
# shows once per so many processes, not per iteration.
#
#   bash scripts/stress.sh [--runs=N] [--jobs=N] [--cpus=LIST] [--timeout=S]
#                          [--levels=2,3] [--variants=bare,plans]
#                          [--users=threads,region] [--out=DIR]
#                          [NAME=LIBDIR ...]
#
# NAME=LIBDIR picks a runtime: the libomp.so.5 in LIBDIR, loaded through
# LD_LIBRARY_PATH (default: the one the build links). Runs of every
# configuration are interleaved, so a change in the machine's load touches
# them all alike. Results: DIR/results (one line per run), DIR/*.err (the
# error output of every failed run) and a table on standard output.
#
# It installs nothing (installing the build dependencies could replace the
# very runtime under test): run scripts/test.sh once first.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=100 jobs=2 cpus="" timeout=60 levels=2,3 variants=bare,plans users=threads,region out=stress-results
runtimes=()
for argument in "$@"; do
    case "$argument" in
        --runs=*) runs=${argument#*=} ;;
        --jobs=*) jobs=${argument#*=} ;;
        --cpus=*) cpus=${argument#*=} ;;
        --timeout=*) timeout=${argument#*=} ;;
        --levels=*) levels=${argument#*=} ;;
        --variants=*) variants=${argument#*=} ;;
        --users=*) users=${argument#*=} ;;
        --out=*) out=${argument#*=} ;;
        *=*) runtimes+=("$argument") ;;
        *) echo "unknown argument: $argument" >&2; exit 2 ;;
    esac
done

cmake -S . -B build-stress -G Ninja -DCMAKE_BUILD_TYPE=Release -DZUN_BUILD_STRESS=ON \
    -DZUN_BUILD_TESTS=OFF -DZUN_BUILD_BENCH=OFF -DZUN_BUILD_EXAMPLES=OFF >/dev/null
cmake --build build-stress --target zun_nesting_stress
binary=$PWD/build-stress/stress/zun_nesting_stress
[ ${#runtimes[@]} -eq 0 ] && runtimes=("linked=")

# The runtime a run really loads, as the dynamic loader reports it.
loaded_runtime() {
    LD_LIBRARY_PATH=$1 LD_DEBUG=libs "$binary" bare threads 1 2>&1 |
        sed -n 's/.*calling init: \(.*libomp[^ ]*\).*/\1/p' | head -n 1
}

mkdir -p "$out"
: >"$out/results"
for runtime in "${runtimes[@]}"; do
    echo "runtime ${runtime%%=*}: $(loaded_runtime "${runtime#*=}")"
done

# One run: appends "runtime levels variant users seed outcome" to the results.
run_one() {
    local name=$1 libdir=$2 level=$3 variant=$4 users=$5 seed=$6
    local pin=() status=0 outcome
    [ -n "$cpus" ] && pin=(taskset -c "$cpus")
    local err="$out/$name-$level-$variant-$users-$seed.err"
    # The outer redirection keeps the shell's own notice of a crash off the table.
    {
        LD_LIBRARY_PATH=$libdir OMP_MAX_ACTIVE_LEVELS=$level \
            timeout -k 5 "$timeout" "${pin[@]}" "$binary" "$variant" "$users" 20 "$seed" >/dev/null 2>"$err" ||
            status=$?
    } 2>/dev/null
    case $status in
        0) outcome=ok ;;
        124 | 137) outcome=hang ;;
        *) if [ "$status" -gt 128 ]; then outcome=SIG$(kill -l $((status - 128))); else outcome=exit$status; fi ;;
    esac
    [ "$outcome" = ok ] && rm -f "$err"
    echo "$name $level $variant $users $seed $outcome" >>"$out/results"
}
export -f run_one
export binary out cpus timeout

for runtime in "${runtimes[@]}"; do
    for level in ${levels//,/ }; do
        for variant in ${variants//,/ }; do
            for user in ${users//,/ }; do
                for seed in $(seq 1 "$runs"); do
                    echo "${runtime%%=*} '${runtime#*=}' $level $variant $user $seed"
                done
            done
        done
    done
done | shuf | xargs -P "$jobs" -L 1 bash -c 'run_one "$@"' _

echo "runtime levels variant users runs failed outcomes"
awk '{ key = $1 " " $2 " " $3 " " $4; runs[key]++
       if ($6 != "ok") { failed[key]++; kinds[key] = kinds[key] " " $6 } }
     END { for (key in runs) print key, runs[key], failed[key] + 0, kinds[key] }' "$out/results" | sort
