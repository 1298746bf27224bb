#!/usr/bin/env bash
# Builds the Debian package in an existing build folder (default build/, as ./test.sh
# leaves it) and checks it the way a user meets it:
#   - the package: dependencies from the libraries the programs link, no maintainer
#     scripts, the files in their places;
#   - the desktop entry (desktop-file-validate) and the AppStream metadata
#     (appstreamcli validate --no-net);
#   - the installed program, unpacked with dpkg-deb -x into a temporary root and run
#     headless (offscreen) with a temporary HOME: --version and --help answer without a
#     display; a first start creates the data folder and copies the empty database into
#     it; with modem settings and one queued message stored (build/demo-setup) and the
#     package's gsm-modem-sim linked as ports/COM1 of that folder, a second start
#     connects and sends the message, which the simulator's transcript shows. The
#     unpacked tree, shipped database included, is unchanged afterwards.
# The program runs until it is ended; the script ends it (SIGTERM) once it has seen
# what it waits for, and gives up after a time limit.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
jobs=$(nproc 2>/dev/null || echo 2)

fail() {
  echo "package-check: $*" >&2
  exit 1
}

cmake --build "$build" -j"$jobs" --target package
shopt -s nullglob
debs=("$build"/package/varnex-bulksms_*.deb)
[ ${#debs[@]} -eq 1 ] || fail "expected one package in $build/package, found ${#debs[@]}"
deb=${debs[0]}
echo "package-check: $deb ($(du -k "$deb" | cut -f1) KiB)"

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Waits up to $1 seconds for the command in the rest of the arguments to succeed, while
# the process $pid lives.
wait_for() {
  local seconds=$1
  shift
  for _ in $(seq 1 $((seconds * 10))); do
    "$@" && return 0
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# --- The package ---------------------------------------------------------------------
dpkg-deb -e "$deb" "$work/control"
extra=$(ls "$work/control" | grep -v -x -e control -e md5sums || true)
[ -z "$extra" ] || fail "the package has maintainer scripts or other control files: $extra"
depends=$(dpkg-deb -f "$deb" Depends)
echo "package-check: Depends: $depends"
for lib in libqt6widgets6 libqt6serialport6 libqt6multimedia6 libsqlcipher libmdb libfreexl libzip libc6; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib"
done

root=$work/root
dpkg-deb -x "$deb" "$root"
app_id=com.varnex.BulkSMS
for f in usr/bin/varnex-bulksms usr/bin/gsm-modem-sim \
  usr/share/varnex-bulksms/BulkSMS.db usr/share/varnex-bulksms/SMSNotify.wav \
  usr/share/varnex-bulksms/ringing.wav usr/share/applications/$app_id.desktop \
  usr/share/metainfo/$app_id.metainfo.xml usr/share/icons/hicolor/scalable/apps/$app_id.svg \
  usr/share/icons/hicolor/48x48/apps/$app_id.png usr/share/icons/hicolor/256x256/apps/$app_id.png; do
  [ -f "$root/$f" ] || fail "the package lacks /$f"
done
file "$root/usr/bin/varnex-bulksms" | grep -q ", stripped" || fail "the program is not stripped"
desktop-file-validate "$root/usr/share/applications/$app_id.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/$app_id.metainfo.xml"

# --- The installed program -----------------------------------------------------------
program=$root/usr/bin/varnex-bulksms
version=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --version)
[ "$version" = "Varnex - Bulk SMS $(dpkg-deb -f "$deb" Version)" ] || fail "--version said: $version"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --help | grep -q -- "--data DIR" ||
  fail "--help does not name --data"

shipped=$root/usr/share/varnex-bulksms/BulkSMS.db
shipped_sum=$(sha256sum <"$shipped")
find "$root" -printf '%p %s %T@\n' | sort >"$work/tree.before"
export HOME=$work/home
unset XDG_DATA_HOME XDG_CONFIG_HOME XDG_CACHE_HOME DISPLAY WAYLAND_DISPLAY
mkdir -p "$HOME"
# A 1280 x 800 screen: the program asks nothing about a small one.
cat >"$work/screen.json" <<'JSON'
{ "screens": [ { "name": "check", "x": 0, "y": 0, "width": 1280, "height": 800,
                 "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1 } ] }
JSON
export QT_QPA_PLATFORM="offscreen:configfile=$work/screen.json"
export QT_LOGGING_RULES="qt.multimedia*=false;qt.qpa.*=false"
data=$HOME/.local/share/Varnex/BulkSMS

# First start: the data folder and its database appear. Without modem settings the
# program then waits for them; it is ended there.
"$program" >"$work/first.out" 2>&1 &
pid=$!
pids+=("$pid")
wait_for 30 test -f "$data/BulkSMS.db" || { cat "$work/first.out"; fail "no database in $data"; }
[ -d "$data/ports" ] || fail "no ports/ folder in $data"
cmp -s "$data/BulkSMS.db" "$shipped" ||
  fail "the new database is not the shipped one"
sleep 2
kill -0 "$pid" 2>/dev/null || { cat "$work/first.out"; fail "the first start ended by itself"; }
kill "$pid"
wait "$pid" 2>/dev/null || true
echo "package-check: first start made $data"

"$build/demo-setup" --message +447700900123 "Sent by the installed program" "$data"
"$root/usr/bin/gsm-modem-sim" "$data/ports/COM1" </dev/null >"$work/sim.out" 2>&1 &
pid=$!
pids+=("$pid")
wait_for 10 grep -q '^READY' "$work/sim.out" || { cat "$work/sim.out"; fail "the simulator did not start"; }

# Second start: it connects through ports/COM1 and sends the queued message.
"$program" >"$work/second.out" 2>&1 &
pid=$!
pids+=("$pid")
sent() { grep '"t":"sent"' "$data/ports/COM1.log" 2>/dev/null | grep -q '"number":"+447700900123"'; }
if ! wait_for 120 sent; then
  echo "--- program output"; cat "$work/second.out"
  echo "--- simulator transcript"; cat "$data/ports/COM1.log" || true
  fail "the message did not go out through the simulator"
fi
grep '"t":"sent"' "$data/ports/COM1.log" | grep -q '"text":"Sent by the installed program"' ||
  fail "the simulator got another text: $(grep '"t":"sent"' "$data/ports/COM1.log")"
kill "$pid"
wait "$pid" 2>/dev/null || true
echo "package-check: the installed program sent its message through $data/ports/COM1"

[ "$(sha256sum <"$shipped")" = "$shipped_sum" ] || fail "the shipped database changed"
find "$root" -printf '%p %s %T@\n' | sort >"$work/tree.after"
diff "$work/tree.before" "$work/tree.after" || fail "the run changed the unpacked package"
echo "package-check: passed"
