#!/usr/bin/env bash
# What `make run` runs once the programs are built: the launcher's x86_64 build
# under Wine against a sample installation in a fresh prefix. On a reachable
# display (and not in CI) you answer the dialog yourself; otherwise it runs on
# its own X server, saves a screenshot, prints the dialog's texts and answers No.
# Extra arguments go to tests/e2e/sample_run.py (--headless, --interactive, --out DIR).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
exec python3 "$root/tests/e2e/sample_run.py" --build-dir "${KV_WIN64_BUILD_DIR:-$root/build/x86_64}" "$@"
