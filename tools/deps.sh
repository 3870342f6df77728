#!/usr/bin/env bash
# Installs the Debian packages exegfx needs that are missing.
#   tools/deps.sh run    building and running exegfx and exegfx-still
#   tools/deps.sh test   all of that plus the tests (Xvfb, Wine, the mingw-w64 cross-build,
#                        the web page and a browser)
#   tools/deps.sh web    building and serving the web page (tools/web.sh)
set -euo pipefail

run_packages=(build-essential cmake ninja-build pkg-config libsdl2-dev libegl-dev libgl-dev
  libgl1-mesa-dri libegl-mesa0 libglx-mesa0 glslang-tools libpng-dev libpci-dev pci.ids
  libopenexr-dev nettle-dev)
test_packages=(googletest libgtest-dev xvfb xdotool x11-utils g++-mingw-w64-x86-64-posix
  mingw-w64-x86-64-dev apitrace
  # Wine for exegfx.exe, with the X and GL libraries its drivers load at run time.
  wine64 fonts-wine libgl1 libxrandr2 libxrender1 libxcursor1 libxi6 libxinerama1
  libxcomposite1 libxxf86vm1 libxfixes3
  # Fonts for SDL's notice on Xvfb; Xorg with the dummy driver for the mode
  # switch, and python3 to read its cursor.
  xfonts-base xserver-xorg-core xserver-xorg-video-dummy x11-xserver-utils python3
  # A single-node Slurm cluster for the job array test.
  slurm-wlm munge
  # The file readers under AddressSanitizer and UBSan, and fuzzed with libFuzzer.
  clang-14 libclang-rt-14-dev libfuzzer-14-dev)

# The web page: emscripten (which brings node), python3's server; the test
# drives Debian's chromium with puppeteer-core from npm.
web_packages=(emscripten python3)
browser_packages=(chromium)
# A node from elsewhere (NodeSource) brings its own npm and refuses Debian's.
command -v npm >/dev/null || browser_packages+=(npm)

packages=("${run_packages[@]}")
case "${1:-run}" in
  test) packages+=("${test_packages[@]}" "${web_packages[@]}" "${browser_packages[@]}") ;;
  web) packages+=("${web_packages[@]}") ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
