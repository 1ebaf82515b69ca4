#!/usr/bin/env bash
# Installs what is missing, builds the server and runs it in the foreground with the default
# configuration of the staged folder (build/release/stage/config.xml). Ctrl-C stops it in order.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build/release" -j "$(nproc)" --target quillmarkserver
exec "$root/build/release/stage/quillmarkserver" -config config.xml
