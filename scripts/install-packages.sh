#!/usr/bin/env bash
# Installs the Debian packages named as arguments that are not installed yet. Idempotent; when
# everything is present it only asks dpkg and returns.
set -euo pipefail

missing=()
for package in "$@"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ $status == "install ok installed" ]] || missing+=("$package")
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
if [[ $(id -u) -ne 0 ]]; then
  echo "Run as root (or install these packages yourself): ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
