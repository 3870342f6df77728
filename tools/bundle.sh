#!/usr/bin/env bash
# The bundle command: installs what is missing, builds a Release tree of its
# own in build-bundle/ (no tests, default limits, whatever build/ is set to)
# and packs exegfx-VERSION-linux-ARCH.tar.gz into the repository's root with
# CPack: bin/, lib/, cluster/, bench/ and a README. Prints its path and size.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh run

cmake -S . -B build-bundle -G Ninja -DCMAKE_BUILD_TYPE=Release -DEXEGFX_BUILD_TESTS=OFF \
  -DEXEGFX_LIMITS_ENFORCED=OFF
cmake --build build-bundle -j "$(nproc)"
# CPack's staging folder stays in the build tree; only the tarball comes out.
rm -rf build-bundle/package
cpack --config build-bundle/CPackConfig.cmake -B build-bundle/package
tarball=$(find build-bundle/package -maxdepth 1 -name '*.tar.gz')
mv -f "$tarball" .
tarball=$PWD/$(basename "$tarball")
echo "Bundle: $tarball ($(du -h "$tarball" | cut -f1))"
