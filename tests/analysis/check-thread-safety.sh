#!/usr/bin/env bash
# Clang's thread-safety analysis must pass the correct uses in ThreadSafetyCases.cpp and reject each
# seeded fault: were the attributes to expand to nothing, `make lint` would pass anything.
# Usage: check-thread-safety.sh CLANGXX ENGINE_DIR. Exits 77 (skipped) without clang.
set -uo pipefail
clangxx=$1
engine=$2
cases="$(dirname "$0")/ThreadSafetyCases.cpp"
if ! command -v "$clangxx" >/dev/null 2>&1; then
  echo "skipped: no clang++ (scripts/setup.sh installs it)"
  exit 77
fi

compile() {
  "$clangxx" -std=c++20 -fsyntax-only -Wthread-safety -Werror -I "$engine" "$@" "$cases" 2>&1
}

status=0
if ! out=$(compile); then
  echo "FAIL: the correct uses do not compile:"
  echo "$out"
  status=1
fi
for fault in AFTER_UNLOCK REQUIRES QUEUE_CHECK SEQUENCE_CHECK; do
  if out=$(compile "-DBREAK_$fault"); then
    echo "FAIL: BREAK_$fault compiles; the analysis missed it"
    status=1
  elif ! grep -q -- '-Wthread-safety' <<<"$out"; then
    echo "FAIL: BREAK_$fault fails for another reason:"
    echo "$out"
    status=1
  else
    echo "ok: BREAK_$fault rejected"
  fi
done
exit $status
