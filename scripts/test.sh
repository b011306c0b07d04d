#!/usr/bin/env bash
# Runs every test: the host build (plain, ASan+UBSan with the fuzz targets,
# TSan), the Windows build under Wine, and the Windows build with clang
# (warnings as errors) and its unit tests under Wine. Ends with
# "N passed, N failed".
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh || { echo "0 passed, 1 failed"; exit 1; }
source scripts/wine-env.sh

jobs=$(nproc)
passed=0
failed=0

# ctest_counts <build dir> [ctest args...]: runs ctest and adds its counts.
ctest_counts() {
  local dir=$1; shift
  local log="$dir/ctest.log"
  ctest --test-dir "$dir" --output-on-failure "$@" 2>&1 | tee "$log" | grep -vE '^\s+(Start|[0-9]+/[0-9]+ Test)' || true
  local line total bad
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [ -z "$line" ]; then
    if grep -q 'No tests were found' "$log"; then return 0; fi
    echo "test: no ctest summary for $dir"; failed=$((failed + 1)); return 0
  fi
  bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
}

# build <preset>: configures and builds; a failed build counts as a failure.
build() {
  local preset=$1
  echo "== build $preset"
  if cmake --preset "$preset" >"build-$preset.log" 2>&1 && cmake --build --preset "$preset" -j "$jobs" >>"build-$preset.log" 2>&1; then
    rm -f "build-$preset.log"
    return 0
  fi
  tail -n 60 "build-$preset.log"
  echo "test: build $preset failed"
  failed=$((failed + 1))
  rm -f "build-$preset.log"
  return 1
}

# Formatting: every C++ file of the tree matches the root .clang-format; each
# file that does not counts as one failure.
echo "== format"
unformatted=0
while IFS= read -r -d '' file; do
  if ! clang-format --dry-run --Werror "$file" >/dev/null 2>&1; then
    echo "format: $file does not match .clang-format (clang-format -i $file)"
    unformatted=$((unformatted + 1))
  fi
done < <(git ls-files -z '*.cpp' '*.h')
failed=$((failed + unformatted))

if build host; then
  echo "== test host"
  ctest_counts build/host -j "$jobs"
fi
if build host-asan; then
  echo "== test host-asan (with fuzz targets)"
  ctest_counts build/host-asan -j "$jobs"
fi
if build host-tsan; then
  echo "== test host-tsan"
  ctest_counts build/host-tsan -j "$jobs"
fi
if build mingw; then
  echo "== test mingw under Wine"
  virtual_display_up
  wine_prefix_up "$root/build/mingw"
  ctest_counts build/mingw -j "$jobs"
  wine_prefix_down "$root/build/mingw"
  virtual_display_down
fi
# The second compiler: the same Windows tree with clang, every test but the
# end-to-end suite, which the g++ build above runs.
if build mingw-clang; then
  echo "== test mingw-clang under Wine (unit tests)"
  virtual_display_up
  wine_prefix_up "$root/build/mingw-clang"
  ctest_counts build/mingw-clang -j "$jobs" -LE e2e
  wine_prefix_down "$root/build/mingw-clang"
  virtual_display_down
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
