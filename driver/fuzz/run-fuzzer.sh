#!/usr/bin/env bash
# Builds the driver host's request-decoder fuzzer with clang and runs it for
# a bounded time (default 50 s) on a scratch copy of the seed corpus, so the
# repository's corpus stays as committed. Crashes land in build/fuzz/.
#   driver/fuzz/run-fuzzer.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds="${1:-50}"
out=build/fuzz
mkdir -p "$out"
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I. driver/protocol/AccessPolicy.cpp driver/protocol/DeviceRequestHandler.cpp \
  driver/protocol/FrameCodec.cpp driver/protocol/HardwareFacts.cpp driver/protocol/FirmwareTables.cpp \
  driver/protocol/KernelEventCodec.cpp driver/fuzz/RequestDecoderFuzzer.cpp -o "$out/request_decoder_fuzzer"
rm -rf "$out/corpus"
cp -r driver/fuzz/corpus "$out/corpus"
"$out/request_decoder_fuzzer" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=1024 \
  -artifact_prefix="$out/" -print_final_stats=1 "$out/corpus"
