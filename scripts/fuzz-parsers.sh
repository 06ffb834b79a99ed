#!/usr/bin/env bash
# Builds the fuzzers of the parsers that read what others write (the
# client's and the driver host's walks of the firmware tables, the version
# file the update check downloads, /proc/stat) with clang and runs each for a
# bounded time (default 15 s) on a scratch copy of its seed corpus, so the
# repository's corpora stay as committed. Crashes land in build/fuzz/.
#   scripts/fuzz-parsers.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-15}"
out=build/fuzz
mkdir -p "$out"
flags=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I.)
clang++ "${flags[@]}" hw/AcpiTableScanner.cpp hw/CKMDriver.cpp hw/CTimers.cpp hw/DriverImageFile.cpp \
  hw/fuzz/AcpiTableScannerFuzzer.cpp -o "$out/acpi_scanner_fuzzer"
clang++ "${flags[@]}" driver/protocol/FirmwareTables.cpp driver/fuzz/FirmwareTablesFuzzer.cpp \
  -o "$out/firmware_tables_fuzzer"
clang++ "${flags[@]}" services/VersionFile.cpp services/fuzz/VersionFileFuzzer.cpp -o "$out/version_file_fuzzer"
clang++ "${flags[@]}" platform/linux/ProcStatParser.cpp platform/linux/LinuxErrors.cpp \
  platform/linux/fuzz/ProcStatParserFuzzer.cpp -o "$out/proc_stat_fuzzer"
for target in hw/fuzz/corpus:acpi_scanner_fuzzer driver/fuzz/firmware-corpus:firmware_tables_fuzzer \
              services/fuzz/corpus:version_file_fuzzer platform/linux/fuzz/corpus:proc_stat_fuzzer; do
  corpus="${target%%:*}"
  binary="${target##*:}"
  rm -rf "$out/corpus-$binary"
  cp -r "$corpus" "$out/corpus-$binary"
  "$out/$binary" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=1024 -max_len=16384 \
    -artifact_prefix="$out/$binary-" -print_final_stats=1 "$out/corpus-$binary"
done
