#!/usr/bin/env bash
# Installs the page tests' npm package (playwright-core, which drives Debian's Chromium and
# downloads no browser) into tests/page/node_modules, exactly as tests/page/package-lock.json
# says. Safe to run again: does nothing when the installed version is the locked one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$root/tests/page

locked=$(node -p "require('$dir/package-lock.json').packages['node_modules/playwright-core'].version")
installed=$(node -p "try { require('$dir/node_modules/playwright-core/package.json').version } catch (e) { '' }")
if [ "$locked" != "$installed" ]; then
  PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --prefix "$dir" --no-audit --no-fund --loglevel=error
fi
