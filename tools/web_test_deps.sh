#!/usr/bin/env bash
# Installs the npm packages of the web page's tests (puppeteer-core, which
# drives Debian's chromium and downloads no browser) into a folder of the build
# tree, from tests/web/package-lock.json. Skips the install when that folder
# already holds the same lock.
#   tools/web_test_deps.sh DIR
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:?usage: tools/web_test_deps.sh DIR}
mkdir -p "$dir"
# The stamp is written only after a whole install.
stamp="$dir/installed-lock.json"
cmp -s "$here/tests/web/package-lock.json" "$stamp" && exit 0
rm -f "$stamp"
cp "$here/tests/web/package.json" "$here/tests/web/package-lock.json" "$dir/"
(cd "$dir" && npm ci --no-audit --no-fund --ignore-scripts --loglevel=error)
cp "$here/tests/web/package-lock.json" "$stamp"
