#!/usr/bin/env bash
# The program's folders stack in floors: a file includes only from its own folder and
# the floors below it, never from a floor above, and the window folders (one floor) do
# not include each other. The order is written here once; ./test.sh runs this check.
#
#   core < ui < modem < settings | compose | views < engine < src/main.cpp
set -euo pipefail
cd "$(dirname "$0")/.."

floor_of() {
  case "$1" in
    core) echo 0 ;;
    ui) echo 1 ;;
    modem) echo 2 ;;
    settings | compose | views) echo 3 ;;
    engine) echo 4 ;;
    *) echo "" ;;
  esac
}

bad=0
while IFS= read -r file; do
  rel=${file#src/}
  if [[ "$rel" == */* ]]; then
    mine=${rel%%/*}
  else
    mine=main
  fi
  my_floor=$(floor_of "$mine")
  [ "$mine" = main ] && my_floor=5
  [ -n "$my_floor" ] || continue
  while IFS= read -r line; do
    target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]+"([a-z]+)\/.*/\1/' <<<"$line")
    their_floor=$(floor_of "$target")
    [ -n "$their_floor" ] || continue
    if [ "$their_floor" -gt "$my_floor" ] ||
       { [ "$their_floor" -eq 3 ] && [ "$my_floor" -eq 3 ] && [ "$target" != "$mine" ]; }; then
      echo "$file includes $target/ (${line//[[:space:]]/ }), a floor it may not reach" >&2
      bad=1
    fi
  done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[a-z]+/' "$file" || true)
done < <(find src -name '*.h' -o -name '*.cpp' | sort)

if [ "$bad" -ne 0 ]; then
  echo "Includes must point down the floors: core < ui < modem < settings|compose|views < engine < main.cpp" >&2
  exit 1
fi
echo "floors: every include points down"
