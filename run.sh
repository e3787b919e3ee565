#!/usr/bin/env bash
# Installs what is missing, builds, and starts Tarnel.
#   ./run.sh          against the built-in simulated gateway (a demo): the
#                     simulator listens on a free loopback port and a
#                     pseudo-terminal, and Tarnel starts with a demo settings
#                     file of its own pointing at them (your settings are not
#                     touched). Press "Connect TCP", then "Scan mbus".
#   ./run.sh --real   against real hardware, with the normal settings file.
# Further arguments go to tarnel (for example ./run.sh --real --settings my.ini).
set -euo pipefail
cd "$(dirname "$0")"

dir=$(scripts/build.sh plain | tail -n 1)
if [ "${1:-}" = "--real" ]; then
  shift
  exec "$dir/tarnel" "$@"
fi

coproc SIM { exec "$dir/tarnel-sim" --tcp 0 --pty; }
trap 'kill "$SIM_PID" 2>/dev/null || true' EXIT
read -r tcp_line <&"${SIM[0]}"
read -r rtu_line <&"${SIM[0]}"
port=${tcp_line##*:}
pty=${rtu_line#rtu }
echo "Simulated gateway: Modbus TCP on 127.0.0.1:$port, Modbus RTU on $pty"

mkdir -p "$dir/demo"
settings="$dir/demo/tarnel-demo.ini"
cat > "$settings" <<INI
[Modbus port]
Name=$pty
Speed=19200
Parity=Even
SB=1

[TCP]
IP=127.0.0.1
Port=$port
EthTimeout=50
INI
"$dir/tarnel" --settings "$settings" "$@"
