#!/usr/bin/env bash
# What `make run` runs once the programs are built: the whole version-up with
# the launcher's x86_64 build under Wine, on a sample installation in a fresh
# prefix. On a reachable display (and not in CI) you answer the dialog and the
# boxes yourself; otherwise it runs on its own X server, answers Yes, saves
# screenshots and prints the outcome, the version record and the files'
# last-write times. Last it starts the launcher once more on the upgraded
# installation, which then reports that it is already current.
# Extra arguments go to tests/e2e/sample_run.py (--headless, --interactive, --out DIR).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
exec python3 "$root/tests/e2e/sample_run.py" --build-dir "${KV_WIN64_BUILD_DIR:-$root/build/x86_64}" "$@"
