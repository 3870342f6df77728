#!/usr/bin/env bash
# The relocatable bundle, packed by CPack from the build tree and unpacked
# outside it:
#  1. bin/ holds the four programs only; every library a program needs
#     resolves, and those the bundle has come from its lib/;
#  2. nothing in bin/ or lib/ needs more than glibc 2.34 and GCC 11's runtime
#     (GLIBC_2.34, GLIBCXX_3.4.29, CXXABI_1.3.13, GCC_7.0.0);
#  3. with the build and source trees hidden (empty tmpfs mounts in a mount
#     namespace of its own), two frame ranges render and merge with the
#     bundle's programs, bench/gpu_bench.sh runs without building, and
#     bench/gpu_check.sh runs through with the bundle's programs (small, on
#     llvmpipe), its parts compared by bench/compare_parts.py.
# Usage: bundle_test.sh CPACK BUILD_DIR SOURCE_DIR WORKDIR
set -euo pipefail
export LC_ALL=C
cpack=$1 build=$(cd "$2" && pwd) source=$(cd "$3" && pwd) work=$4
fail() {
  echo "FAIL: $*"
  exit 1
}

rm -rf "$work"
mkdir -p "$work"
"$cpack" --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }
# Unpacked away from both trees, which step 3 hides.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
tar -xzf "$work"/exegfx-*-linux-*.tar.gz -C "$tmp"
root=$(echo "$tmp"/exegfx-*)
echo "bundle: $(du -h "$work"/exegfx-*.tar.gz | cut -f1)"

# 1. Layout and library resolution.
[ "$(cd "$root/bin" && echo *)" = "exegfx exegfx-bench-pass exegfx-merge exegfx-still" ] ||
  fail "bin/ holds: $(ls "$root/bin")"
for f in cluster/slurm_render.sh cluster/render_part.sbatch cluster/merge_parts.sbatch \
  cluster/slurm_status.sh bench/gpu_bench.sh bench/gpu_check.sh bench/compare_parts.py; do
  [ -x "$root/$f" ] || fail "no executable $f"
done
[ -s "$root/README.md" ] || fail "no README.md"
for program in "$root"/bin/*; do
  deps=$(ldd "$program")
  ! grep "not found" <<<"$deps" || fail "$program misses libraries"
  while read -r name _ path _; do
    [ ! -e "$root/lib/$name" ] || [ "$path" -ef "$root/lib/$name" ] ||
      fail "$(basename "$program") takes $name from $path, not from lib/"
  done < <(grep ' => ' <<<"$deps")
done

# 2. The symbol-version floor: the versions each file requires, not defines.
for f in "$root"/bin/* "$root"/lib/*; do
  [ -L "$f" ] && continue
  for v in $(objdump -p "$f" | sed -n '/^Version References:/,$p' |
    grep -oE '(GLIBC|GLIBCXX|CXXABI|GCC)_[0-9][0-9.]*' | sort -u); do
    case $v in
    GLIBC_*) max=GLIBC_2.34 ;;
    GLIBCXX_*) max=GLIBCXX_3.4.29 ;;
    CXXABI_*) max=CXXABI_1.3.13 ;;
    GCC_*) max=GCC_7.0.0 ;;
    esac
    [ "$(printf '%s\n' "$v" "$max" | sort -V | tail -1)" = "$max" ] ||
      fail "$(basename "$f") needs $v, above $max"
  done
done

# 3. The bundle alone: build and source trees out of reach.
ns=(unshare --mount)
[ "$(id -u)" -eq 0 ] || ns=(unshare --map-root-user --mount)
mkdir "$tmp/out"
# shellcheck disable=SC2016 # the inner shell expands its arguments
"${ns[@]}" bash -euo pipefail -c '
  mount -t tmpfs none "$1" # the build tree first: it may lie inside the source tree
  mount -t tmpfs none "$2"
  cd "$3"
  bin/exegfx-still --size 64x36 --first-frame 1 --frames 2 -o "$4/a.exr"
  bin/exegfx-still --size 64x36 --first-frame 3 --frames 2 -o "$4/b.exr"
  bin/exegfx-merge --expect-frames 1-4 -o "$4/hall.png" "$4/a.exr" "$4/b.exr"
  # The Slurm script checks its values with the bundled exegfx-still.
  if bash cluster/slurm_render.sh --size 0x36 "$4/farm" 2>"$4/farm.err"; then exit 1; fi
  grep -q "exegfx-still: --size 0x36 is empty" "$4/farm.err" || { cat "$4/farm.err"; exit 1; }
  [ ! -e "$4/farm" ]
  bash bench/gpu_bench.sh --size 64x36 --frames 1 --software-device >"$4/bench.log" 2>&1 ||
    { cat "$4/bench.log"; exit 1; }
  # No GPU here: the software renderer, which an unset CUDA_VISIBLE_DEVICES allows.
  env -u CUDA_VISIBLE_DEVICES bash bench/gpu_check.sh --size 64x36 --part-size 64x36 \
    "$4/check" 1 >"$4/check.log" 2>&1 || { cat "$4/check.log"; exit 1; }
  python3 bench/compare_parts.py bin/exegfx-merge --a "$4"/check/gpu_part_[01].exr \
    --b "$4"/check/gpu_part_[23].exr >"$4/compare.log" 2>&1 || { cat "$4/compare.log"; exit 1; }
' isolated "$build" "$source" "$root" "$tmp/out" || fail "the bundle alone did not run"
[ -s "$tmp/out/hall.png" ] || fail "no merged picture"
grep -q "ratio compute/fragment" "$tmp/out/bench.log" || fail "gpu_bench.sh: $(cat "$tmp/out/bench.log")"
# gpu_check.sh: each step ran with the bundle's own programs, and --list-gpus
# said why a named GPU would be refused.
check=$tmp/out/check.log
for line in "== programs from $root/bin" "Taken: no GPU (software renderer)" \
  "Refused: CUDA_VISIBLE_DEVICES=\"0\" gives this process a GPU" "ratio compute/fragment" \
  "Wrote $tmp/out/check/gpu_2048.png" "Wrote $tmp/out/check/gpu_part_3.exr: 16 of 16 frames"; do
  grep -qF "$line" "$check" || fail "gpu_check.sh did not print \"$line\": $(cat "$check")"
done
grep -q "^tiles compared" "$tmp/out/compare.log" || fail "compare_parts.py: $(cat "$tmp/out/compare.log")"
echo "PASS"
