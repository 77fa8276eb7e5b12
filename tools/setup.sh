#!/usr/bin/env bash
# Installs the Debian packages listed in tools/packages.txt that are missing.
# Idempotent: does nothing (and needs no network) when everything is there.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

mapfile -t wanted < <(grep -v -E '^\s*(#|$)' "$here/packages.txt" | awk '{print $1}')
missing=()
for p in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -eq 0 ]]; then
  sudo=()
elif command -v sudo >/dev/null; then
  sudo=(sudo)
else
  echo "setup: these packages are missing and neither root nor sudo is available: ${missing[*]}" >&2
  exit 1
fi
# Another apt or dpkg (an unattended upgrade, a colleague's set-up) may hold the
# package manager's lock for minutes: wait for it, saying so, instead of failing.
lock_wait=${SETUP_LOCK_WAIT:-600}
deadline=$((SECONDS + lock_wait))
lock_holders() {
  lslocks -n -o PID,COMMAND,PATH 2>/dev/null |
    awk '$3 ~ "^/var/lib/(dpkg/lock(-frontend)?|apt/lists/lock|apt/archives/lock)$" { print $2 " (" $1 ")" }' |
    sort -u | paste -sd, -
}
apt_get() {
  local err status said=0 holders
  err=$(mktemp)
  while true; do
    holders=$(lock_holders)
    if [[ -n "$holders" && $said -eq 0 ]]; then
      echo "setup: waiting for the package manager's lock, held by $holders (up to $((deadline - SECONDS)) s)" >&2
      said=1
    fi
    status=0
    "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=$((deadline > SECONDS ? deadline - SECONDS : 0)) "$@" \
      2> >(tee "$err" >&2) || status=$?
    wait # for tee
    if [[ $status -ne 0 ]] && grep -q -E 'Could not get lock|Unable to acquire|Unable to lock' "$err" &&
      [[ $SECONDS -lt $deadline ]]; then
      if [[ $said -eq 0 ]]; then
        echo "setup: waiting for the package manager's lock (up to $((deadline - SECONDS)) s)" >&2
        said=1
      fi
      sleep 5
      continue
    fi
    rm -f "$err"
    return $status
  done
}

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt_get update -q
apt_get install -y -q --no-install-recommends "${missing[@]}"
