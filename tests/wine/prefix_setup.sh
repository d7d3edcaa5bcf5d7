#!/usr/bin/env bash
# Prepares the build's Wine prefix for the dialog tests (run once per test run).
# - The dialogs ask for "MS UI Gothic", which Linux lacks; the proportional IPA
#   Gothic is its closest stand-in (Wine would otherwise fall back to a
#   fixed-width face, wider than the template was laid out for).
# - With no window manager on the virtual X server, Wine draws the window
#   frames itself, so screenshots show the title bars.
set -euo pipefail
# shellcheck disable=SC2086  # ZP3K_WINE_ENV is a list of VAR=value words
run() { env $ZP3K_WINE_ENV "$@"; }
run wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'MS UI Gothic' /t REG_SZ /d IPAPGothic /f
run wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f
# Let the server write the registry and end, so every test starts afresh.
run wineserver -w
