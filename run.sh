#!/usr/bin/env bash
# Installs what is missing, builds, and starts Tarnel.
#   ./run.sh          against the built-in simulated gateway (a demo): the
#                     simulator listens on a free loopback port and a
#                     pseudo-terminal, and Tarnel starts with a demo settings
#                     file of its own pointing at them (your settings are not
#                     touched). The demo file is kept between runs: the first
#                     run writes it whole, later runs renew only the port and
#                     pseudo-terminal. Press "Connect TCP", then "Scan mbus".
#   ./run.sh --real   against real hardware, with the normal settings file.
# Further arguments go to tarnel (for example ./run.sh --real --settings my.ini).
set -euo pipefail
cd "$(dirname "$0")"

# set_keys FILE "SECTION|KEY|VALUE"...: sets each key of the INI file FILE in
# its section and keeps every other line; a missing key is added at the end
# of its section (before the blank lines that end it), a missing section at
# the end of the file. Plain awk, so that a new machine needs nothing more.
set_keys() {
  local file=$1
  shift
  local IFS=$'\037'
  awk -v sets="$*" '
    BEGIN {
      n = split(sets, entries, "\037")
      for (i = 1; i <= n; i++) {
        split(entries[i], field, "|")
        sec[i] = field[1]; key[i] = field[2]; val[i] = field[3]; done[i] = 0
      }
    }
    function add_missing(   i) {
      for (i = 1; i <= n; i++)
        if (sec[i] == section && !done[i]) { print key[i] "=" val[i]; done[i] = 1 }
    }
    function print_blanks() {
      for (; blanks > 0; blanks--) print ""
    }
    NR == 1 { sub(/^\357\273\277/, "") }  # a byte order mark of a hand-edited file
    /^[ \t]*$/ { blanks++; next }
    /^[ \t]*\[.*\][ \t]*$/ {
      add_missing()
      print_blanks()
      section = $0
      gsub(/^[ \t]*\[|\][ \t]*$/, "", section)
      seen[section] = 1
      print
      next
    }
    {
      print_blanks()
      for (i = 1; i <= n; i++)
        if (sec[i] == section && $0 ~ ("^[ \t]*" key[i] "[ \t]*=")) {
          if (!done[i]) print key[i] "=" val[i]
          done[i] = 1
          next
        }
      print
    }
    END {
      add_missing()
      print_blanks()
      for (i = 1; i <= n; i++)
        if (!done[i]) {
          if (!(sec[i] in seen)) { print ""; print "[" sec[i] "]"; seen[sec[i]] = 1 }
          print key[i] "=" val[i]
        }
    }' "$file" > "$file.new"
  mv "$file.new" "$file"
}

dir=$(scripts/build.sh plain | tail -n 1)
if [ "${1:-}" = "--real" ]; then
  shift
  exec "$dir/tarnel" "$@"
fi

# --64: the bus of the 64-meter scenario, every meter in the gateway's table,
# for a commissioning report worth reading; else the eight training meters.
scenario=()
if [ "${1:-}" = "--64" ]; then
  shift
  scenario=(--scenario sim/scenario64.json)
fi
coproc SIM { exec "$dir/tarnel-sim" --tcp 0 --pty "${scenario[@]}"; }
trap 'kill "$SIM_PID" 2>/dev/null || true' EXIT
read -r tcp_line <&"${SIM[0]}"
read -r rtu_line <&"${SIM[0]}"
port=${tcp_line##*:}
pty=${rtu_line#rtu }
echo "Simulated gateway: Modbus TCP on 127.0.0.1:$port, Modbus RTU on $pty"

mkdir -p "$dir/demo"
settings="$dir/demo/tarnel-demo.ini"
if [ -s "$settings" ]; then
  # A later start: the simulator's port and pseudo-terminal are new, whatever
  # else the user changed in the demo stays as it was left.
  set_keys "$settings" "Modbus port|Name|$pty" "TCP|IP|127.0.0.1" "TCP|Port|$port"
else
  # The first start: the whole demo file. The scan covers the eight simulated
  # meters (addresses 1 to 8) and waits long enough for the slowest of them,
  # which answers after about 1.2 s.
  cat > "$settings" <<INI
[Modbus port]
Name=$pty
Speed=19200
Parity=Even
SB=1

[Mbus]
Timeout=1500
SearchFrom=0
SearchTo=10

[TCP]
IP=127.0.0.1
Port=$port
EthTimeout=50

[Report]
Site=Demo plant room
Installer=Demo installer
INI
fi
"$dir/tarnel" --settings "$settings" "$@"
