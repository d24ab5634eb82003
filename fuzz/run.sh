#!/usr/bin/env bash
# Builds the fuzz targets with the fuzz preset (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs them one after the other.
#   fuzz/run.sh [--merge] TARGET|all SECONDS
# Targets: expression numbertext registryfile conversion.
# Each target runs for SECONDS in one process at low priority, starting from its committed
# corpus (fuzz/corpus/TARGET, only read) and, when python3 is there, the seeds that
# fuzz/seed.py takes from the tests; new inputs go to build/fuzz/work/TARGET, so the source
# tree stays as it is. --merge then minimizes the committed corpus together with the new
# inputs (-merge=1, edges only) and writes the result back to fuzz/corpus/TARGET, for
# committing. Crashing inputs go to build/fuzz/artifacts/TARGET/, the full log to
# build/fuzz/logs/TARGET.log.
# Missing prerequisites are installed with apt-get when run as root, else named.

set -euo pipefail
cd "$(dirname "$0")/.."

all_targets=(expression numbertext registryfile conversion)
merge=0
if [ "${1:-}" = --merge ]; then
  merge=1
  shift
fi
if [ $# -ne 2 ] || ! [[ "$2" =~ ^[0-9]+$ ]]; then
  # The usage is the leading comment block, up to its first blank line.
  sed -n '2,/^$/s/^# \{0,1\}//p' "$0"
  exit 2
fi
if [ "$1" = all ]; then
  targets=("${all_targets[@]}")
else
  case " ${all_targets[*]} " in
    *" $1 "*) targets=("$1") ;;
    *) echo "unknown target '$1' (one of: ${all_targets[*]})" >&2; exit 2 ;;
  esac
fi
seconds=$2

# --- prerequisites ----------------------------------------------------------------------------
links_fuzzer() {
  local dir
  dir=$(mktemp -d)
  printf '%s\n' '#include <cstddef>' '#include <cstdint>' \
    'extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }' >"$dir/t.cpp"
  clang++ -fsanitize=fuzzer,address,undefined "$dir/t.cpp" -o "$dir/t" >/dev/null 2>&1
  local status=$?
  rm -rf "$dir"
  return $status
}
need=()
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v ninja >/dev/null 2>&1 || need+=(ninja-build)
if ! command -v clang++ >/dev/null 2>&1; then
  need+=(clang libclang-rt-dev)
elif ! links_fuzzer; then
  version=$(clang++ -dumpversion | cut -d. -f1)
  need+=("libclang-rt-$version-dev")
fi
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" = 0 ]; then
    echo "Installing missing prerequisites: ${need[*]}"
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}"
  else
    echo "Missing prerequisites. Install them with:" >&2
    echo "  sudo apt-get install ${need[*]}" >&2
    exit 1
  fi
fi

# --- build ------------------------------------------------------------------------------------
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${targets[@]/#/fuzz_}"

out=build/fuzz
mkdir -p "$out/logs" "$out/work"
seeds=()
if command -v python3 >/dev/null 2>&1; then
  rm -rf "$out/seeds"
  python3 fuzz/seed.py "$out/seeds"
fi
# The conversion and registry targets write files: a memory file system keeps that cheap.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

# --- run --------------------------------------------------------------------------------------
for target in "${targets[@]}"; do
  binary=$out/fuzz/fuzz_$target
  corpus=fuzz/corpus/$target
  work=$out/work/$target
  log=$out/logs/$target.log
  mkdir -p "$corpus" "$work" "$out/artifacts/$target"
  seeds=()
  [ -d "$out/seeds/$target" ] && seeds=("$out/seeds/$target")
  dict=()
  [ -f "fuzz/$target.dict" ] && dict=("-dict=fuzz/$target.dict")
  echo "== $target: ${seconds}s"
  status=0
  nice -n 10 "$binary" "$work" "$corpus" "${seeds[@]}" "${dict[@]}" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
    -print_final_stats=1 -artifact_prefix="$out/artifacts/$target/" >"$log" 2>&1 || status=$?
  grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::peak_rss_mb|Done [0-9]+ runs)' \
    "$log" || true
  if [ $status -ne 0 ]; then
    echo "$target: FAILED (exit $status), see $log and $out/artifacts/$target/" >&2
    grep -E 'ERROR|FUZZ FAULT|SUMMARY|Test unit written' "$log" >&2 || true
    exit $status
  fi
  if [ "$merge" = 1 ]; then
    merged=$(mktemp -d "$out/merged-XXXXXX")
    # Edges only (no hit counts): a corpus of a few hundred files that still reaches every edge.
    nice -n 10 "$binary" -merge=1 -use_counters=0 -max_len=4096 -timeout=10 "$merged" "$corpus" "$work" \
      "${seeds[@]}" >>"$log" 2>&1
    rm -f "$corpus"/*
    cp "$merged"/* "$corpus"/
    rm -rf "$merged"
    echo "$target: corpus minimized to $(ls "$corpus" | wc -l) files"
  else
    echo "$target: $(ls "$work" | wc -l) inputs in $work (fuzz/corpus/$target unchanged; --merge adds them)"
  fi
done
