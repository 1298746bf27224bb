#!/usr/bin/env bash
# Builds the program and runs it against the simulated GSM modem.
#
# The simulator's pseudo-terminal is linked as COM1 of the program folder
# (build/app/ports/COM1); the program connects to it, sends the queued messages and
# receives what the simulator delivers. Without a display the program runs on a
# virtual one and a screenshot is saved.
#
# While it runs, drive the simulated modem from another terminal, for example:
#   echo 'sms +919812345678 "Hello from the network"' > build/app/ports/COM1.in
#   echo 'ring 3 +919812345678 2000' > build/app/ports/COM1.in
# (see sim/README.md for every command). Stop with Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target BulkSMS gsm-modem-sim demo-setup x-screenshot

app=$root/build/app
ports=$app/ports
mkdir -p "$ports"
link=$ports/COM1
commands=$ports/COM1.in
simlog=$root/build/gsm-modem-sim.out

pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  exec 3>&- 2>/dev/null || true
  rm -f "$commands"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The simulator reads its commands from a named pipe that this script keeps open.
rm -f "$commands"
mkfifo "$commands"
"$root/build/sim/gsm-modem-sim" "$link" --ring-interval 2000 <"$commands" >"$simlog" 2>&1 &
pids+=($!)
exec 3>"$commands"
for _ in $(seq 1 100); do
  grep -q '^READY' "$simlog" 2>/dev/null && break
  sleep 0.1
done
grep -q '^READY' "$simlog" || { echo "The simulated modem did not start:"; cat "$simlog"; exit 1; }
echo "Simulated modem ready on $link"

"$root/build/demo-setup" --demo-messages "$app"

screenshot=""
if [ -z "${DISPLAY:-}" ]; then
  display=:$((90 + RANDOM % 100))
  Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  export DISPLAY=$display
  sleep 1
  screenshot=$root/build/screenshot.png
  echo "No display: running on the virtual display $display"
fi

"$app/BulkSMS" &
program=$!
pids+=($program)

# Let the program connect and send, then deliver an SMS and ring once.
sleep 6
echo 'sms +919812345678 "Hello from the simulated network! Reply \"YES\" to confirm."' >&3
sleep 14
if [ -n "$screenshot" ]; then
  if "$root/build/x-screenshot" "$screenshot"; then
    echo "Screenshot of the connected main window: $screenshot"
  fi
fi

cat <<HELP

The program is running with the simulated modem on COM1.
  Sent messages are in:     $link.log (the simulator's transcript)
  Deliver an incoming SMS:  echo 'sms +919812345678 "Your text"' > $commands
  Ring three times:         echo 'ring 3 +919812345678 2000' > $commands
  Unplug / plug the modem:  echo unplug > $commands ; echo plug > $commands
Close the program's window (or press Ctrl-C) to stop.
HELP
wait "$program" || true
