#!/usr/bin/env bash
# Builds the host build and runs the demo: the real pagewick, pagewick-sc and
# scanner simulator doing the main job in a fresh host world.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh host
cmake --preset host >/dev/null
cmake --build --preset host --target pagewick-demo
exec build/host/tools/pagewick-demo "$@"
