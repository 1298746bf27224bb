#!/usr/bin/env bash
# Builds the fuzz targets of fuzz/ (clang and libFuzzer, with AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz/ and gives each a short run: first the kept
# reproducers of faults found before (fuzz/regressions/<target>/), then FUZZ_SECONDS
# (default 25) of fuzzing from its seed corpus. The corpus grows in a scratch folder, so
# the repository is not written; what breaks a target is kept in build-fuzz/artifacts/.
# Fails when a target crashes or breaks one of its properties.
# The import-file targets also start from the sample files of tests/fixtures (the hostile
# ones among them).
#   scripts/fuzz.sh [target...]      (targets: modem_line listing call_fields pdu jet_sql
#                                     import_text import_xlsx import_xls import_mdb)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-25}
all=(modem_line listing call_fields pdu jet_sql import_text import_xlsx import_xls import_mdb)
export LSAN_OPTIONS="suppressions=$PWD/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")

cmake -S fuzz -B build-fuzz -DCMAKE_CXX_COMPILER=clang++
cmake --build build-fuzz -j"$(nproc 2>/dev/null || echo 2)"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p build-fuzz/artifacts
passed=0
failed=0
for t in "${targets[@]}"; do
  bin=build-fuzz/fuzz_$t
  maxlen=4096
  seeds=()
  case $t in
    jet_sql) dict=fuzz/sql.dict ;;
    import_text) dict=fuzz/import.dict; seeds=(tests/fixtures/*.txt) ;;
    import_xlsx) dict=fuzz/import.dict; maxlen=65536; seeds=(tests/fixtures/*.xlsx tests/fixtures/hostile/*.xlsx) ;;
    import_xls) dict=fuzz/import.dict; maxlen=65536; seeds=(tests/fixtures/*.xls tests/fixtures/hostile/*.xls) ;;
    import_mdb) dict=fuzz/import.dict; maxlen=262144; seeds=(tests/fixtures/*.mdb) ;;
    *) dict=fuzz/modem.dict ;;
  esac
  log=build-fuzz/artifacts/$t.log
  ok=1
  shopt -s nullglob
  kept=(fuzz/regressions/$t/*)
  shopt -u nullglob
  if [ ${#kept[@]} -gt 0 ] && ! "$bin" "${kept[@]}" >"$log.regressions" 2>&1; then
    echo "fuzz_$t: a kept reproducer fails again:"
    tail -n 40 "$log.regressions"
    ok=0
  fi
  mkdir -p "$scratch/$t"
  if [ -d "fuzz/corpus/$t" ]; then cp -r "fuzz/corpus/$t/." "$scratch/$t/"; fi
  if [ ${#seeds[@]} -gt 0 ]; then cp "${seeds[@]}" "$scratch/$t/"; fi
  if [ $ok -eq 1 ] && ! "$bin" -dict="$dict" -max_total_time="$seconds" -max_len="$maxlen" \
      -timeout=10 -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/$t-" \
      "$scratch/$t" >"$log" 2>&1; then
    echo "fuzz_$t: FAILED (the input that broke it is in build-fuzz/artifacts/):"
    grep -v -E '^#[0-9]+' "$log" | tail -n 60
    ok=0
  fi
  if [ $ok -eq 1 ]; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz_$t: ${runs:-?} runs in ${seconds} s, $(grep -E '^#[0-9]+' "$log" | tail -n 1 |
      grep -o -E 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+' || true), no fault"
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ $failed -eq 0 ]
