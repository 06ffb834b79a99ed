#!/usr/bin/env bash
# Builds the Debian package: a Release build installed into a staging tree
# by CPack, dependencies from dpkg-shlibdeps.
# Output: build/package/tarvelle2_VERSION_ARCH.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
dir=build/package-build
# Immediate binding and read-only relocations; the compile flags stay the
# Release build's, so the tree shares the compiler cache with ./run's.
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
      -DTV2_BUILD_TESTS=OFF -DTV2_BUILD_BENCHMARKS=OFF \
      "-DCMAKE_EXE_LINKER_FLAGS=-Wl,-z,relro -Wl,-z,now" >/dev/null
cmake --build "$dir"
mkdir -p build/package
(cd "$dir" && cpack -G DEB >/dev/null)
ls build/package/tarvelle2_*.deb
