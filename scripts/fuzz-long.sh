#!/usr/bin/env bash
# A long run of one libFuzzer target: N executions from a copy of its seed corpus.
set -euo pipefail

usage() {
    cat <<'EOF'
usage: scripts/fuzz-long.sh [--max-seconds S] [--grow] TARGET N

Runs the fuzz target TARGET (fuzz/TARGET_fuzz.cpp, preset `fuzz`) for N executions
(libFuzzer's -runs=N), single process, from a copy of fuzz/corpus/TARGET in a temporary
folder, and prints the executions, the coverage at the end (libFuzzer's cov: and ft:) and
the wall time. Builds the preset first when needed.

  --max-seconds S   stop after S seconds even if N executions are not done
  --grow            afterwards merge the inputs that add coverage into fuzz/corpus/TARGET
                    (off by default: the repository's corpus stays as it is)
  --help            this text

Exit status 0 when the run found nothing; 1 when it found a crash, leak, timeout or
out-of-memory input, which is kept under build/fuzz/findings/TARGET/ (its path is printed);
2 for a bad command line or a failed build.
Run it niced on a shared machine:  nice -n 10 scripts/fuzz-long.sh replies 10000000
EOF
}

max_seconds=0
grow=0
args=()
while [ $# -gt 0 ]; do
    case "$1" in
    --help | -h) usage; exit 0 ;;
    --max-seconds) max_seconds="${2:-}"; shift 2 ;;
    --grow) grow=1; shift ;;
    -*) echo "fuzz-long.sh: unknown option $1 (try --help)" >&2; exit 2 ;;
    *) args+=("$1"); shift ;;
    esac
done
if [ ${#args[@]} -ne 2 ] || ! [[ "${args[1]}" =~ ^[0-9]+$ ]] || ! [[ "$max_seconds" =~ ^[0-9]+$ ]]; then
    usage >&2
    exit 2
fi
target="${args[0]}"
runs="${args[1]}"

cd "$(dirname "$0")/.."
root="$PWD"
if [ ! -d "fuzz/corpus/$target" ]; then
    echo "fuzz-long.sh: no target '$target' (fuzz/corpus/$target is missing)" >&2
    exit 2
fi
if [ ! -f build/fuzz/CMakeCache.txt ]; then
    cmake --preset fuzz > /dev/null || exit 2
fi
cmake --build --preset fuzz -j2 --target "$target" > /dev/null || {
    echo "fuzz-long.sh: the build of $target failed" >&2
    exit 2
}

work="$(mktemp -d "/tmp/quellon-fuzz-$target-XXXXXX")"
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus" "$work/artifacts"
cp -r "fuzz/corpus/$target/." "$work/corpus/"

limit=()
[ "$max_seconds" -gt 0 ] && limit=(-max_total_time="$max_seconds")
start=$(date +%s.%N)
status=0
"build/fuzz/fuzz/$target" -runs="$runs" "${limit[@]}" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" \
    > "$work/log" 2>&1 || status=$?
end=$(date +%s.%N)

executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -1)
last=$(grep -E '^#[0-9]+.*cov: [0-9]+ ft: [0-9]+' "$work/log" | tail -1 || true)
cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<< "$last")
ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<< "$last")
seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.0f", b - a }')
printf '%s: %s executions, %s s, cov %s, ft %s\n' \
    "$target" "${executions:-?}" "$seconds" "${cov:-?}" "${ft:-?}"

shopt -s nullglob
findings=("$work"/artifacts/*)
if [ "$status" -ne 0 ] || [ ${#findings[@]} -gt 0 ]; then
    keep="$root/build/fuzz/findings/$target"
    mkdir -p "$keep"
    cp "$work/log" "$keep/log-$(date +%Y%m%d-%H%M%S)"
    for f in "${findings[@]}"; do
        cp "$f" "$keep/"
        echo "finding: $keep/$(basename "$f")"
    done
    grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error)' "$work/log" | head -5 || true
    echo "$target: FOUND (exit $status); log in $keep" >&2
    exit 1
fi
if [ "$grow" -eq 1 ]; then
    "build/fuzz/fuzz/$target" -merge=1 "fuzz/corpus/$target" "$work/corpus" > /dev/null 2>&1
    echo "merged into fuzz/corpus/$target: $(find "fuzz/corpus/$target" -type f | wc -l) files"
fi
