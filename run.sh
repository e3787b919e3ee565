#!/usr/bin/env bash
# Installs what is missing, builds, and starts Tarnel. Arguments go to tarnel
# (for example ./run.sh --settings my.ini).
set -euo pipefail
cd "$(dirname "$0")"

dir=$(scripts/build.sh plain | tail -n 1)
exec "$dir/tarnel" "$@"
