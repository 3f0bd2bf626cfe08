#!/usr/bin/env bash
# Builds one libFuzzer target per companion-file loader with clang (the main build uses GCC,
# whose sanitizer runtime cannot be mixed in) and runs each for a bounded number of inputs,
# seeded with the golden files. Each input is loaded, drawn and saved, so a value that loads
# but overflows when drawn is found too.
# Each target stops after its runs or after seconds_per_target, whichever comes first, so a slow
# or busy machine still finishes within the test's time-out.
# Usage: run-fuzzers.sh <source root> <work folder> <runs per target> [seconds per target]
set -euo pipefail
src=$1 work=$2 runs=${3:-20000} seconds=${4:-60}
command -v clang++ >/dev/null || { echo "clang++ is not installed"; exit 77; }
cxx=(clang++)
command -v ccache >/dev/null && cxx=(ccache clang++)

mkdir -p "$work/obj"
# Every input is written to a file and saved twice; on a memory file system that costs nothing.
[ -d /dev/shm ] && [ -w /dev/shm ] && export TMPDIR=/dev/shm
flags=(-std=c++20 -g -O1 -fPIC -fsanitize=address,undefined -fno-sanitize-recover=undefined
       -I"$src" $(pkg-config --cflags Qt6Core Qt6Gui))

# The loaders, the drawing code and what they need of the platform; an archive lets the linker
# take only the objects they use.
drawing=("$src"/analysis/drawing/DrawingRenderer.cpp "$src"/analysis/drawing/DrawingView.cpp
         "$src"/platform/ui/Canvas.cpp "$src"/platform/ui/Font.cpp)
headers=("$src/analysis/annotation" "$src/analysis/drawing" "$src/platform/core" "$src/platform/ui")
objects=()
stale=()
for f in "$src"/analysis/annotation/*.cpp "$src"/platform/core/*.cpp "${drawing[@]}"; do
  case $f in *Form.cpp) continue ;; esac
  grep -q Q_OBJECT "$f" && continue
  o="$work/obj/$(basename "${f%.cpp}").o"
  if [ ! -f "$o" ] || [ "$f" -nt "$o" ] || [ -n "$(find "${headers[@]}" -name '*.h' -newer "$o")" ]; then
    stale+=("$f")
  fi
  objects+=("$o")
done
# Compiled side by side: on a small machine this is most of the test's time.
export work
[ ${#stale[@]} -eq 0 ] || printf '%s\0' "${stale[@]}" | xargs -0 -r -P "$(nproc)" -I{} sh -c \
  'f="$1"; shift; o="$work/obj/$(basename "${f%.cpp}").o"; exec "$@" -fsanitize=fuzzer-no-link -c "$f" -o "$o"' \
  _ {} "${cxx[@]}" "${flags[@]}"
lib="$work/libloaders.a"
if [ ! -f "$lib" ] || [ -n "$(find "${objects[@]}" -newer "$lib")" ]; then
  rm -f "$lib"
  ar rcs "$lib" "${objects[@]}"
fi

# Text is drawn with the system's fonts, whose library never frees its cache.
export LSAN_OPTIONS="suppressions=$src/tests/fuzz/annotation/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

targets=(markers:.mrk freehand:.frh shapes:.shp text:.str fhgrid:.fhg angles:.ang)
n=0
for t in "${targets[@]}"; do
  n=$((n + 1))
  name=${t%%:*} suffix=${t#*:}
  exe="$work/fuzz_$name"
  harness="$src/tests/fuzz/annotation/LoaderFuzzer.cpp"
  if [ ! -f "$exe" ] || [ "$harness" -nt "$exe" ] || [ "$lib" -nt "$exe" ]; then
    "${cxx[@]}" "${flags[@]}" -fsanitize=fuzzer -DKESTROM_FUZZ_LOADER=$n "$harness" "$lib" \
      $(pkg-config --libs Qt6Core Qt6Gui) -o "$exe"
  fi
  corpus="$work/corpus_$name"
  mkdir -p "$corpus"
  cp "$src/tests/fixtures/annotation/clip$suffix" "$corpus/seed"
  echo "== $name"
  rm -f "$work/$name"-crash-* "$work/$name"-timeout-* "$work/$name"-leak-* "$work/$name"-oom-*
  if ! "$exe" -runs="$runs" -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$work/$name-" "$corpus" >"$work/$name.log" 2>&1; then
    tail -n 60 "$work/$name.log"
    echo "fuzzing $name found a failing input (kept in $work)"
    exit 1
  fi
  grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$work/$name.log" || true
done
