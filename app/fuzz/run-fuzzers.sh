#!/usr/bin/env bash
# Builds the settings file and profile line fuzzers with clang and runs each
# for a bounded time (default 20 s) on a scratch copy of its seed corpus, so
# the repository's corpus stays as committed. Crashes land in build/fuzz/.
#   app/fuzz/run-fuzzers.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds="${1:-20}"
out=build/fuzz
mkdir -p "$out"
common=(app/TextFileReader.cpp app/ProfileLine.cpp)
flags=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I.)
clang++ "${flags[@]}" "${common[@]}" app/SettingsReaders.cpp app/fuzz/SettingsFileFuzzer.cpp \
  -o "$out/settings_file_fuzzer"
clang++ "${flags[@]}" "${common[@]}" app/fuzz/ProfileLineFuzzer.cpp -o "$out/profile_line_fuzzer"
for target in settings:settings_file_fuzzer profile:profile_line_fuzzer; do
  corpus="${target%%:*}"
  binary="${target##*:}"
  rm -rf "$out/corpus-$corpus"
  cp -r "app/fuzz/corpus/$corpus" "$out/corpus-$corpus"
  "$out/$binary" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=1024 -max_len=8192 \
    -artifact_prefix="$out/$binary-" -print_final_stats=1 "$out/corpus-$corpus"
done
