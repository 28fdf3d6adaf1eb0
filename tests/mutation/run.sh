#!/usr/bin/env bash
# Puts each fault of faults.txt (or FILE) into a scratch copy of the tree, builds it and runs the
# tests named for it; reports which faults the suite caught. Not part of `make test`: it takes long.
#   tests/mutation/run.sh [--all] [--only REGEX] [--jobs N] [FILE]
#     --all         run the whole suite for every fault, not just the fault's own tests
#     --only REGEX  only the faults whose name matches (grep -E)
# ORVANE_MUTATION_DIR (default /tmp/orvane-mutation) keeps the copy and its build between runs, so
# each fault rebuilds only what it touches. Extra CMake options go in ORVANE_MUTATION_CMAKE_ARGS.
# Run it niced on a shared machine: nice -n 19 tests/mutation/run.sh
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_tree=$(git -C "$here" rev-parse --show-toplevel)
scratch=${ORVANE_MUTATION_DIR:-/tmp/orvane-mutation}
faults=$here/faults.txt
whole_suite=false only= jobs=2
while (($#)); do
    case $1 in
    --all) whole_suite=true ;;
    --only) only=$2; shift ;;
    --jobs) jobs=$2; shift ;;
    -*) echo "unknown option: $1" >&2; exit 2 ;;
    *) faults=$(realpath "$1") ;;
    esac
    shift
done

# The build sits inside the copy as it does in a checkout, so the compiler cache, told to read
# paths relative to the copy, finds what a checkout's build compiled.
tree=$scratch/tree build=$scratch/tree/build log=$scratch/log
mkdir -p "$tree" "$log"

# The tracked files as they are in the working tree. Only changed files are written (with a new
# time), so the build never mistakes a restored file for one it has already compiled.
sync_tree() {
    local file
    (cd "$source_tree" && git ls-files -z --cached --others --exclude-standard) | while IFS= read -r -d '' file; do
        [[ -f $source_tree/$file ]] || continue
        cmp -s "$source_tree/$file" "$tree/$file" 2>/dev/null && continue
        mkdir -p "$(dirname "$tree/$file")"
        cp "$source_tree/$file" "$tree/$file"
    done
}

fail() { echo "run.sh: $*" >&2; exit 2; }

# The faults: blocks of "name:", "file:", "from:", "to:" and "tests:" lines, split by blank lines.
# awk's paragraph mode gives each block's five values on one line, split by the unit separator.
parsed=$(awk 'BEGIN { RS = ""; FS = "\n"; OFS = "\037" }
    { split("", value)
      for (i = 1; i <= NF; i++) if ($i !~ /^#/) {
          key = $i; sub(/:.*/, "", key)
          if (key !~ /^(name|file|from|to|tests)$/) { print "unknown line: " $i > "/dev/stderr"; exit 2 }
          value[key] = substr($i, length(key) + 3) }
      if (!("name" in value)) next
      if (value["file"] == "" || value["from"] == "" || !("to" in value) || value["tests"] == "") {
          print "fault \"" value["name"] "\" lacks a field" > "/dev/stderr"; exit 2 }
      print value["name"], value["file"], value["from"], value["to"], value["tests"] }' "$faults") ||
    fail "$faults cannot be read"
names=() files=() froms=() tos=() regexes=()
while IFS=$'\037' read -r name file from to tests; do
    [[ -z $only ]] || grep -qE -- "$only" <<<"$name" || continue
    names+=("$name") files+=("$file") froms+=("$from") tos+=("$to") regexes+=("$tests")
done <<<"$parsed"
((${#names[@]})) || fail "no fault to run"

# Replaces the one line holding `from` in the copy of `file`; fails loudly when the text is not
# there exactly once, so a fault that no longer applies is never reported as caught.
apply() {
    local path=$tree/$1 from=$2 to=$3 count
    [[ -f $path ]] || fail "$1 does not exist"
    count=$(grep -cF -- "$from" "$path" || true)
    [[ $count == 1 ]] || fail "$1 holds \"$from\" on $count lines, not on one"
    FROM=$from TO=$to perl -0pi -e 's/\Q$ENV{FROM}\E/$ENV{TO}/' "$path"
    ! cmp -s "$path" "$source_tree/$1" || fail "$1 is unchanged by \"$from\""
}

restore() { cp "$source_tree/$1" "$tree/$1"; }

# The names of the tests that match a regex.
tests_for() { ctest --test-dir "$build" -N -R "$1" | sed -n 's/^ *Test *#[0-9]*: //p'; }

# The build targets of the tests that match `regex` (a test that is no target, such as the
# install step, needs nothing more than its fixture's own tests).
targets_for() {
    local name
    tests_for "$1" | while read -r name; do
        ninja -C "$build" -t query "$name" >/dev/null 2>&1 && echo "$name"
    done
}

# Builds and runs the tests for `regex` ("" for the whole suite); the status says whether all passed.
build_and_test() {
    local regex=$1 out=$2 targets
    if [[ -z $regex ]]; then
        cmake --build "$build" -j "$jobs" >"$out.build" 2>&1 || return 3
        ctest --test-dir "$build" -j "$jobs" --output-on-failure >"$out" 2>&1
    else
        mapfile -t targets < <(targets_for "$regex")
        ((${#targets[@]})) || fail "no test matches \"$regex\""
        cmake --build "$build" -j "$jobs" --target "${targets[@]}" >"$out.build" 2>&1 || return 3
        ctest --test-dir "$build" -j "$jobs" -R "$regex" --output-on-failure >"$out" 2>&1
    fi
}

sync_tree
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    export CCACHE_BASEDIR=$tree CCACHE_NOHASHDIR=1
fi
# shellcheck disable=SC2086 # the extra options are words
cmake -S "$tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVANE_BUILD_BENCHMARKS=OFF \
    "${launcher[@]}" ${ORVANE_MUTATION_CMAKE_ARGS:-} >"$log/configure" 2>&1 || fail "configuring failed: $log/configure"

# The unchanged tree must pass the same tests, or every fault would look caught. (One regex per
# test, as CTest's regex engine refuses one made of all the faults' regexes.)
mapfile -t all_tests < <(printf '%s\n' "${regexes[@]}" | sort -u | while read -r regex; do tests_for "$regex"; done | sort -u)
all_regexes="^($(IFS='|'; echo "${all_tests[*]}"))\$"
$whole_suite && all_regexes=
echo "the unchanged tree: building and testing"
build_and_test "$all_regexes" "$log/unchanged" || fail "the unchanged tree does not pass: $log/unchanged"

missed=0 broken=0
for i in "${!names[@]}"; do
    regex=${regexes[i]}
    $whole_suite && regex=
    apply "${files[i]}" "${froms[i]}" "${tos[i]}"
    out=$log/fault-$i
    set +e
    build_and_test "$regex" "$out"
    status=$?
    set -e
    restore "${files[i]}"
    case $status in
    0) verdict=MISSED; ((++missed)) ;;
    3) verdict="DOES NOT BUILD ($out.build)"; ((++broken)) ;;
    *) verdict=caught ;;
    esac
    printf '%-8s %s\n' "$verdict" "${names[i]}"
done
echo "$((${#names[@]} - missed - broken)) of ${#names[@]} faults caught, $missed missed, $broken did not build"
((missed == 0 && broken == 0))
