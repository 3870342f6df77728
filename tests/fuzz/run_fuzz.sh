#!/usr/bin/env bash
# A bounded fuzzing run of the partial render reader, as the tests run it:
# a fixed seed, so every run tries the same inputs, starting from the seed
# files in corpus/ (ok_*: tiny valid partials, adaptive ones with their counts
# among them; old_*: without a checksum, stored uncompressed and with RLE;
# bad_*: an extra channel, a chunk whose size is zeroed). New inputs, and any that crashes, go to WORK.
#
#   tests/fuzz/run_fuzz.sh FUZZER WORK RUNS [libFuzzer options...]
#
# A longer search with a seed of its own, for instance after a change to the
# reader:  tests/fuzz/run_fuzz.sh build-sanitize/partial_fuzz /tmp/fuzz -1 \
#            -max_total_time=600 -seed=0
set -euo pipefail
fuzzer=$1 work=$2 runs=$3
shift 3
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work/corpus"
# The reader's notes on standard error would flood the log; libFuzzer's own
# report and the sanitizers' still come through.
exec "$fuzzer" -runs="$runs" -seed=1 -max_len=4096 -timeout=20 -rss_limit_mb=2048 \
  -dict="$here/partial.dict" -artifact_prefix="$work/" -close_fd_mask=2 -print_final_stats=1 \
  "$@" "$work/corpus" "$here/corpus"
