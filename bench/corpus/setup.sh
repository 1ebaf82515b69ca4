#!/usr/bin/env bash
# Installs what the real-text benchmark needs and the test command does not: the fortune
# collections the corpus is cut from, Python 3 and scikit-learn for the comparison.
# Only missing packages are installed; when everything is present it only asks dpkg.
set -euo pipefail

packages=(
  fortunes fortunes-de fortunes-es fortunes-it   # the texts: English, German, Spanish, Italian
  python3 python3-sklearn python3-numpy python3-scipy   # the comparison models
)

bash "$(dirname "${BASH_SOURCE[0]}")/../../scripts/install-packages.sh" "${packages[@]}"
