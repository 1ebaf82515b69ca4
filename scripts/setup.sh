#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and only those that are missing.
# Idempotent; when everything is present it only asks dpkg and returns.
set -euo pipefail

packages=(
  g++ cmake make              # C++20 compiler and build
  libboost-dev                # unordered_map, heap::priority_queue, shared_ptr (headers only)
  libxml2-dev                 # XML parsing, XSD validation, XPath
  libxml2-utils               # xmllint: tests check the schemas with a second validator
  libgtest-dev libgmock-dev   # unit and integration tests
  libbenchmark-dev            # benchmarks in bench/
  clang libclang-rt-14-dev    # libFuzzer targets in fuzz/ (test stage "fuzz")
  python3                     # tests of the corpus split builder (bench/corpus)
)

missing=()
for package in "${packages[@]}"; do
  [[ $package == \#* ]] && continue
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
