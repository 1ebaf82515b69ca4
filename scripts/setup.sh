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
  clang-format git            # the test command's format check of every tracked C++ file
  python3                     # tests of the corpus split builder (bench/corpus)
  netcat-openbsd              # nc -N: sends the README's example requests
  curl python3-prometheus-client  # MetricsServerTest scrapes /metrics and parses the page
  libpq-dev                   # the PostgreSQL classifier store's client library
  postgresql                  # a private cluster for its tests (scripts/postgres-cluster.sh)
  haproxy                     # two servers behind a TCP balancer (scripts/haproxy-cluster.sh)
)

bash "$(dirname "${BASH_SOURCE[0]}")/install-packages.sh" "${packages[@]}"
