#!/usr/bin/env bash
# Runs the client walkthrough of README.md as a new user would, against a real server:
#   - the block marked "readme-test: server" starts the server, here in a private copy of the
#     runnable folder whose config.xml gets a free port;
#   - the block marked "readme-test: walkthrough" runs from the checkout with the runnable
#     folder on PATH and QUILLMARK_PORT set, every command checked for exit status 0;
#   - its standard output must equal the block marked "readme-test: output", when there is one.
# Usage: ReadmeWalkthroughTest.sh CHECKOUT STAGE_DIR
set -euo pipefail

checkout=$1
stage=$2
readme=$checkout/README.md

# The fenced block that follows the marker comment "<!-- readme-test: NAME -->".
block() {
    awk -v marker="<!-- readme-test: $1 -->" '
        $0 == marker { found = 1; next }
        found && /^```/ { if (inside) exit; inside = 1; next }
        inside { print }' "$readme"
}

server_block=$(block server)
walkthrough=$(block walkthrough)
expected=$(block output)
[[ -n $server_block && -n $walkthrough ]] || { echo "README.md lacks its server or walkthrough block" >&2; exit 1; }

work=$(mktemp -d)
server_pid=
cleanup() {
    [[ -z $server_pid ]] || { kill -TERM "$server_pid"; wait "$server_pid"; } 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A port nothing answers on: a connection attempt is refused. It lies below the system's range
# of ephemeral ports (from 32768), where the outgoing connections of tests running beside this
# one could hold it and make the server's bind fail.
for _ in $(seq 1 50); do
    port=$((20000 + RANDOM % 12000))
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || break
    port=
done
[[ -n $port ]] || { echo "no free port found" >&2; exit 1; }

cp -r "$stage/." "$work/"
# The metrics page on a port the system picks: the shipped one may be taken by a running server.
sed -i -e "s|<port>[0-9]*</port>|<port>$port</port>|" \
    -e "s|<metricsPort>[0-9]*</metricsPort>|<metricsPort>0</metricsPort>|" "$work/config.xml"
grep -q "<port>$port</port>" "$work/config.xml"

(cd "$work" && exec bash -c "exec $server_block") >"$work/server.out" 2>&1 &
server_pid=$!

export PATH="$stage:$PATH"
export QUILLMARK_PORT=$port
unset QUILLMARK_HOST

# Ready when it answers a request with a response document (exit status 1: no such classifier).
for attempt in $(seq 1 100); do
    status=0
    quillmark info readme-test-probe >/dev/null 2>&1 || status=$?
    ((status == 1)) && break
    kill -0 "$server_pid" 2>/dev/null || { echo "the server ended:" >&2; cat "$work/server.out" >&2; exit 1; }
    [[ $attempt -eq 100 ]] && { echo "the server did not answer" >&2; exit 1; }
    sleep 0.2
done

cd "$checkout"
actual=$(bash -euo pipefail -c "$walkthrough")
if [[ -n $expected && "$actual" != "$expected" ]]; then
    echo "The walkthrough's output differs from README.md:" >&2
    diff <(echo "$expected") <(echo "$actual") >&2 || true
    exit 1
fi
echo "README walkthrough: $(grep -c . <<<"$walkthrough") commands passed${expected:+, with the documented output}"
