#!/usr/bin/env bash
# Installs what the real-text benchmark needs and the test command does not: the fortune
# collections the corpus is cut from, Python 3 and scikit-learn for the comparison.
# Only missing packages are installed; when everything is present it only asks dpkg.
set -euo pipefail

packages=(
  fortunes fortunes-de fortunes-es fortunes-it   # the texts: English, German, Spanish, Italian
  python3 python3-sklearn python3-numpy python3-scipy   # the comparison models
)

missing=()
for package in "${packages[@]}"; do
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
