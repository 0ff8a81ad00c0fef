#!/bin/bash
# Builds the fuzz targets with clang in build/fuzz and runs each for SECONDS (default 180), one
# after the other, on a copy of its starting corpus. Prints each target's executions and findings
# (crash, leak and timeout files, kept in build/fuzz/findings/<target>/).
#
# usage: fuzz/run.sh [SECONDS [TARGET...]]
# Needs clang-14 and libclang-rt-14-dev; installs them when missing (as root).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-180}
shift || true
[[ $seconds =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [SECONDS [TARGET...]]" >&2; exit 2; }

need=()
command -v clang++-14 >/dev/null || need+=(clang-14)
dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q 'install ok installed' ||
  need+=(libclang-rt-14-dev)
if [ ${#need[@]} -gt 0 ]; then
  echo "fuzz: installing ${need[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y \
    --no-install-recommends "${need[@]}"
fi

dir=build/fuzz
CC=clang-14 CXX=clang++-14 cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPOSTVANE_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$dir" --target fuzz_targets -j"$(nproc)"

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(spool_file_fuzz mime_words_fuzz date_time_fuzz
                                     ini_document_fuzz smtp_reply_fuzz)
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
summary=()
for target in "${targets[@]}"; do
  corpus=$dir/corpus/$target findings=$dir/findings/$target log=$dir/$target.log
  mkdir -p "$corpus" "$findings"
  cp -n fuzz/corpus/"$target"/* "$corpus"/ 2>/dev/null || true
  echo "== $target, $seconds s"
  set +e
  "$dir/fuzz/$target" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" >"$log" 2>&1
  rc=$?
  set -e
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  found=$(find "$findings" -type f | wc -l)
  summary+=("$(printf '%-18s executions %-10s corpus %-5s findings %s (exit %s)' "$target" \
    "${execs:-?}" "$(find "$corpus" -type f | wc -l)" "$found" "$rc")")
  if [ "$rc" -ne 0 ] || [ "$found" -gt 0 ]; then
    status=1
    grep -E 'ERROR|property failed|SUMMARY|Test unit written' "$log" | head -n 20 || true
  fi
done
echo "== summary"
printf '%s\n' "${summary[@]}"
exit $status
