#!/usr/bin/env bash
# Mutation check of the test suite: applies the small faults listed in scripts/mutants.tsv
# one at a time, rebuilds incrementally, runs the tests that should notice and reports each
# mutant as killed or survived. Slow: not part of .ci/run.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
list="$root/scripts/mutants.tsv"
build="$root/build/mutate"
jobs=2
test_timeout=180 # seconds per test
run_timeout=1200 # seconds per mutant's whole test run
mode=run
full=0
baseline=1
only=()

usage() {
    cat <<EOF
Usage: scripts/mutate.sh [options]

Applies each mutant of the list (one at a time), rebuilds the build folder incrementally,
runs the mutant's tests and prints it as killed or survived; at the end the kill rate.
The source file is always restored, also on Ctrl-C.

  --check          only verify that every mutant's text occurs exactly once; no build
  --only ID        run only this mutant (repeatable, or a comma-separated list)
  --full           run the whole suite for each mutant instead of its own tests
  --no-baseline    do not first run the selected mutants' tests on the unmutated tree
  --list FILE      the mutant list (default scripts/mutants.tsv)
  --build DIR      the build folder (default build/mutate, configured like the default
                   preset when missing)
  --jobs N         parallel build and test jobs (default 2)
  --timeout S      timeout of each test in seconds (default $test_timeout)
  --help           this text

Results: one line per mutant (id, outcome, seconds, description); the logs of each
mutant's build and tests are in BUILD/mutants/ID.log.
EOF
}

while [[ $# -gt 0 ]]; do
    case "$1" in
    --check) mode=check ;;
    --only)
        [[ $# -ge 2 ]] || { echo "--only needs an id" >&2; exit 2; }
        IFS=',' read -r -a ids <<<"$2"
        only+=("${ids[@]}")
        shift
        ;;
    --full) full=1 ;;
    --no-baseline) baseline=0 ;;
    --list)
        [[ $# -ge 2 ]] || { echo "--list needs a file" >&2; exit 2; }
        list="$(realpath "$2")"
        shift
        ;;
    --build)
        [[ $# -ge 2 ]] || { echo "--build needs a folder" >&2; exit 2; }
        build="$(realpath -m "$2")"
        shift
        ;;
    --jobs)
        [[ $# -ge 2 && "$2" =~ ^[1-9][0-9]*$ ]] || { echo "--jobs needs a number" >&2; exit 2; }
        jobs="$2"
        shift
        ;;
    --timeout)
        [[ $# -ge 2 && "$2" =~ ^[1-9][0-9]*$ ]] || { echo "--timeout needs seconds" >&2; exit 2; }
        test_timeout="$2"
        shift
        ;;
    --help | -h)
        usage
        exit 0
        ;;
    *)
        echo "unknown option '$1' (see --help)" >&2
        exit 2
        ;;
    esac
    shift
done

[[ -f "$list" ]] || { echo "no mutant list $list" >&2; exit 2; }

# Text operations on one file: "count" prints how often FROM occurs, "apply" replaces its
# single occurrence by TO. {NL} in FROM and TO stands for a line break.
edit() {
    python3 - "$@" <<'PY'
import sys
op, path, old, new = sys.argv[1:5]
old = old.replace("{NL}", "\n")
new = new.replace("{NL}", "\n")
with open(path, encoding="utf-8", newline="") as f:
    text = f.read()
if op == "count":
    print(text.count(old))
else:
    assert text.count(old) == 1
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(text.replace(old, new, 1))
PY
}

selected() {
    local id="$1"
    [[ ${#only[@]} -eq 0 ]] && return 0
    local o
    for o in "${only[@]}"; do
        [[ "$o" == "$id" ]] && return 0
    done
    return 1
}

# The file being mutated and its pristine copy; restored on every way out.
current=""
backup="$(mktemp)"
restore() {
    if [[ -n "$current" ]]; then
        cp "$backup" "$current"
        current=""
    fi
}
cleanup() {
    restore
    rm -f "$backup"
}
trap cleanup EXIT

# Long steps run in a process group of their own, waited for in the background: a Ctrl-C
# then reaches this script at once (the build and ctest would otherwise swallow it and the
# mutant would count as killed), which stops the whole group before restoring the source.
child=0
run() {
    local log="$1"
    shift
    setsid "$@" >>"$log" 2>&1 &
    child=$!
    local rc=0
    wait "$child" || rc=$?
    child=0
    return "$rc"
}
interrupted() {
    if [[ $child -ne 0 ]]; then
        kill -TERM -- "-$child" 2>/dev/null || true
        wait "$child" 2>/dev/null || true
    fi
    restore
    echo "interrupted: source restored" >&2
    exit 130
}
trap interrupted INT TERM

# The test programs that a ctest regex runs, as build targets (empty: build everything).
targets_for() {
    local regex="$1"
    ctest --test-dir "$build" -N -R "$regex" --show-only=json-v1 2>/dev/null |
        python3 -c '
import json, os, sys
try:
    tests = json.load(sys.stdin)["tests"]
except Exception:
    sys.exit(0)
names = set()
for t in tests:
    command = t.get("command") or []
    if not command:
        continue
    exe = os.path.basename(command[0])
    if exe.startswith("test_"):
        names.add(exe)
    else:  # a script test: whatever it drives
        print("all")
        sys.exit(0)
print(" ".join(sorted(names)))
'
}

build_targets() {
    local log="$1"
    shift
    if [[ $# -eq 0 || "$*" == "all" ]]; then
        run "$log" nice -n 10 cmake --build "$build" -j "$jobs"
    else
        run "$log" nice -n 10 cmake --build "$build" -j "$jobs" --target "$@"
    fi
}

# Mutants of the subsystem "windows" live in code that only the Windows build compiles: the
# mingw preset's quellon-cli.exe and test_windows.exe are rebuilt with the mutant (and again
# after it), which the Wine tests run.
build_windows() {
    local log="$1"
    local mingw="$root/build/mingw"
    if [[ ! -f "$mingw/build.ninja" ]]; then
        (cd "$root" && cmake --preset mingw >>"$log" 2>&1) || return 1
    fi
    run "$log" nice -n 10 cmake --build "$mingw" -j "$jobs" --target quellon-cli test_windows
}

# ---- read the list -----------------------------------------------------------------------

ids=() subsystems=() files=() froms=() tos=() regexes=() descriptions=()
while IFS=$'\t' read -r id subsystem file from to regex description || [[ -n "${id:-}" ]]; do
    [[ -z "$id" || "$id" == \#* || "$id" == id ]] && continue
    selected "$id" || continue
    ids+=("$id") subsystems+=("$subsystem") files+=("$file") froms+=("$from") tos+=("$to")
    regexes+=("$regex") descriptions+=("$description")
done <"$list"
if [[ ${#ids[@]} -eq 0 ]]; then
    echo "no mutant selected" >&2
    exit 2
fi

# ---- --check -----------------------------------------------------------------------------

if [[ "$mode" == check ]]; then
    bad=0
    for i in "${!ids[@]}"; do
        path="$root/${files[$i]}"
        if [[ ! -f "$path" ]]; then
            echo "${ids[$i]}  stale: no file ${files[$i]}"
            bad=$((bad + 1))
            continue
        fi
        n="$(edit count "$path" "${froms[$i]}" "")"
        if [[ "$n" != 1 ]]; then
            echo "${ids[$i]}  stale: the text occurs $n times in ${files[$i]}"
            bad=$((bad + 1))
        elif [[ -z "${regexes[$i]}" ]]; then
            echo "${ids[$i]}  no test regex"
            bad=$((bad + 1))
        fi
    done
    echo "${#ids[@]} mutants, $bad that do not apply"
    [[ $bad -eq 0 ]]
    exit
fi

# ---- run ---------------------------------------------------------------------------------

mkdir -p "$build/mutants"
if [[ ! -f "$build/build.ninja" ]]; then
    echo "configuring $build"
    # The default preset's build type; lld (when there) because every mutant relinks.
    configure=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUELLON_BENCH=OFF)
    if command -v ld.lld >/dev/null; then
        configure+=(-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld)
    fi
    nice -n 10 cmake -S "$root" -B "$build" -G Ninja "${configure[@]}" \
        >"$build/mutants/configure.log" 2>&1
fi
echo "building the unmutated tree in $build"
if ! build_targets "$build/mutants/baseline.log" all; then
    echo "the unmutated tree does not build: see $build/mutants/baseline.log" >&2
    exit 1
fi

# A test that fails without any mutant would count every mutant as killed.
if [[ $baseline -eq 1 ]]; then
    union=""
    if [[ $full -eq 0 ]]; then
        union="$(IFS='|'; echo "${regexes[*]}")"
    fi
    echo "running the tests of the selected mutants on the unmutated tree"
    base_args=(--test-dir "$build" -j "$jobs" --timeout "$test_timeout" --no-tests=error)
    [[ -n "$union" ]] && base_args+=(-R "$union")
    : >"$build/mutants/baseline-tests.log"
    if ! run "$build/mutants/baseline-tests.log" env QT_QPA_PLATFORM=offscreen \
        nice -n 10 ctest "${base_args[@]}"; then
        echo "tests fail without a mutant: see $build/mutants/baseline-tests.log" >&2
        grep -E "^\s+[0-9]+ - " "$build/mutants/baseline-tests.log" >&2 || true
        exit 1
    fi
fi

started=$SECONDS
killed=0 survived=0 stale=0 equivalent=0
survivors=()
for i in "${!ids[@]}"; do
    id="${ids[$i]}"
    path="$root/${files[$i]}"
    log="$build/mutants/$id.log"
    : >"$log"
    t0=$SECONDS
    if [[ ! -f "$path" || "$(edit count "$path" "${froms[$i]}" "")" != 1 ]]; then
        outcome="stale"
        stale=$((stale + 1))
    else
        if [[ $full -eq 1 ]]; then
            regex=""
            targets="all"
        else
            regex="${regexes[$i]}"
            targets="$(targets_for "$regex")"
        fi
        cp "$path" "$backup"
        current="$path"
        edit apply "$path" "${froms[$i]}" "${tos[$i]}"
        read -r -a target_list <<<"${targets:-all}"
        if ! build_targets "$log" "${target_list[@]}"; then
            outcome="killed (build)"
        elif [[ "${subsystems[$i]}" == windows ]] && ! build_windows "$log"; then
            outcome="killed (build)"
        else
            test_args=(--test-dir "$build" -j "$jobs" --timeout "$test_timeout"
                --no-tests=error --output-on-failure)
            [[ -n "$regex" ]] && test_args+=(-R "$regex")
            if run "$log" env QT_QPA_PLATFORM=offscreen timeout "$run_timeout" \
                nice -n 10 ctest "${test_args[@]}"; then
                outcome="survived"
            elif grep -q "No tests were found" "$log"; then
                outcome="no tests"
            else
                outcome="killed"
            fi
        fi
        restore
        if [[ "${subsystems[$i]}" == windows ]]; then
            build_windows "$log" || echo "the Windows programs do not build again: see $log" >&2
        fi
        case "$outcome" in
        killed*) killed=$((killed + 1)) ;;
        survived)
            if [[ "${descriptions[$i]}" == equivalent:* ]]; then
                outcome="survived (equivalent)"
                equivalent=$((equivalent + 1))
            else
                survived=$((survived + 1))
                survivors+=("$id")
            fi
            ;;
        *)
            survived=$((survived + 1))
            survivors+=("$id")
            ;;
        esac
    fi
    printf '%-4s %-22s %5ds  %-11s %s\n' "$id" "$outcome" $((SECONDS - t0)) \
        "${subsystems[$i]}" "${descriptions[$i]}"
done

# The mutated files are back as they were; the checkout shows no change made here.
changed="$(cd "$root" && git status --porcelain -- "${files[@]}")"
if [[ -n "$changed" ]]; then
    echo "WARNING: files of the list differ from the last commit:" >&2
    echo "$changed" >&2
fi

counted=$((killed + survived))
total=$((SECONDS - started))
echo "mutants ${#ids[@]}, killed $killed, survived $survived, equivalent $equivalent, stale $stale"
if [[ $counted -gt 0 ]]; then
    echo "kill rate $((100 * killed / counted)) % ($killed of $counted), time ${total}s"
fi
if [[ ${#survivors[@]} -gt 0 ]]; then
    echo "survivors: ${survivors[*]}"
    exit 1
fi
