#!/usr/bin/env bash
# Builds Quillon Vesper and runs its demo session: a scripted desktop session whose visits
# are recorded and ranked, then shown. Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# Configured as the test script configures it, so that the two share one build.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_LINE_TABLES_ONLY=ON > /dev/null
cmake --build build -j"$(nproc)" --target qvdemo QvTracer qvjournal qvindex QvSeek
exec build/bin/qvdemo "$@"
