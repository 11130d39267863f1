#!/usr/bin/env bash
# Throughput of velmora-site's count address against nginx serving the same 3 bytes, and
# a check that the site keeps answering while hundreds of idle keep-alive connections
# are open. Builds nothing.
#
#   bench/site_bench.sh [BUILD_DIR]      (default build/linux)
#
# Environment: BENCH_DURATION (wrk -d, default 5s), BENCH_ROUNDS (default 3),
# BENCH_IDLE (idle connections, default 500), SITE_THREADS (velmora-site --threads).
#
# Needs wrk, nginx (nginx-light) and python3. Everything runs on loopback.
set -euo pipefail

build_dir=${1:-build/linux}
site_bin="$build_dir/velmora-site"
duration=${BENCH_DURATION:-5s}
idle_count=${BENCH_IDLE:-500}
rounds=${BENCH_ROUNDS:-3}
[[ -x "$site_bin" ]] || { echo "site_bench: $site_bin not found (build velmora-site first)" >&2; exit 2; }
for tool in wrk nginx python3; do
    command -v "$tool" >/dev/null || { echo "site_bench: $tool is not installed" >&2; exit 2; }
done

work=$(mktemp -d /tmp/velmora-site-bench.XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

wait_for_http() { # url
    for _ in $(seq 100); do
        curl -s -o /dev/null "$1" && return 0
        sleep 0.05
    done
    echo "site_bench: nothing answers at $1" >&2
    exit 1
}

rps() { # wrk output file
    awk '/Requests\/sec:/ {print $2}' "$1"
}

# --- velmora-site (its request log goes to a file, as when deployed) -------------------
site_port=$(free_port)
"$site_bin" --port "$site_port" --episodes 220 ${SITE_THREADS:+--threads "$SITE_THREADS"} \
    >"$work/site.log" 2>"$work/site.err" &
pids+=($!)
site_url="http://127.0.0.1:$site_port/video/player/?flv=list"
wait_for_http "$site_url"

# --- nginx: same path, same 3 bytes, logging to a file too -----------------------------
nginx_port=$(free_port)
mkdir -p "$work/nginx/logs" "$work/nginx/tmp"
cat >"$work/nginx/nginx.conf" <<CONF
daemon off;
worker_processes auto;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log;
events { worker_connections 4096; }
http {
    access_log $work/nginx/logs/access.log;
    client_body_temp_path $work/nginx/tmp/body;
    proxy_temp_path $work/nginx/tmp/proxy;
    fastcgi_temp_path $work/nginx/tmp/fastcgi;
    uwsgi_temp_path $work/nginx/tmp/uwsgi;
    scgi_temp_path $work/nginx/tmp/scgi;
    keepalive_requests 1000000;
    server {
        listen 127.0.0.1:$nginx_port;
        location = /video/player/ {
            default_type "text/plain; charset=utf-8";
            return 200 "220";
        }
    }
}
CONF
nginx -e "$work/nginx/logs/error.log" -p "$work/nginx" -c "$work/nginx/nginx.conf" &
pids+=($!)
nginx_url="http://127.0.0.1:$nginx_port/video/player/?flv=list"
wait_for_http "$nginx_url"

[[ $(curl -s "$site_url") == 220 && $(curl -s "$nginx_url") == 220 ]] ||
    { echo "site_bench: the two servers do not answer 220" >&2; exit 1; }

# Alternating rounds, so a busy moment on a shared machine hits both servers alike.
echo "wrk -t2 -c50 -d$duration on the count address, $rounds alternating rounds, $(nproc) CPUs"
site_runs=()
nginx_runs=()
for round in $(seq "$rounds"); do
    wrk -t2 -c50 -d"$duration" "$site_url" >"$work/wrk-site.txt"
    wrk -t2 -c50 -d"$duration" "$nginx_url" >"$work/wrk-nginx.txt"
    site_runs+=("$(rps "$work/wrk-site.txt")")
    nginx_runs+=("$(rps "$work/wrk-nginx.txt")")
    printf '  round %d: velmora-site %10s   nginx %10s requests/s\n' "$round" \
        "${site_runs[-1]}" "${nginx_runs[-1]}"
done
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
printf '  median:  velmora-site %10s   nginx %10s requests/s\n' \
    "$(median "${site_runs[@]}")" "$(median "${nginx_runs[@]}")"

# --- idle keep-alive connections -------------------------------------------------------
# Holds N connections: half have asked once and wait as keep-alive, half never spoke. On
# "check" (a line on stdin) each asks again and the count of answers is printed.
cat >"$work/idle.py" <<'PY'
import socket, sys
host, port, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
request = b"GET /video/player/?flv=list HTTP/1.1\r\nHost: bench\r\n\r\n"
def ask(s):
    s.sendall(request)
    data = b""
    while b"\r\n\r\n" not in data or not data.endswith(b"220"):
        chunk = s.recv(4096)
        if not chunk:
            return False
        data += chunk
    return True
conns = []
for i in range(count):
    s = socket.create_connection((host, port), timeout=10)
    if i % 2 == 0 and not ask(s):
        sys.exit("idle client: no answer while opening")
    conns.append(s)
print("open", len(conns), flush=True)
sys.stdin.readline()
answered = 0
for s in conns:
    try:
        answered += ask(s)
    except OSError:
        pass
print("answered", answered, flush=True)
PY
coproc IDLE { python3 "$work/idle.py" 127.0.0.1 "$site_port" "$idle_count"; }
pids+=($IDLE_PID)
read -r _ opened <&"${IDLE[0]}"
echo "with $opened idle keep-alive connections open to velmora-site:"
wrk -t2 -c50 -d"$duration" "$site_url" >"$work/wrk-idle.txt"
printf '  velmora-site  %12s requests/s\n' "$(rps "$work/wrk-idle.txt")"
errors=$(awk '/Socket errors|Non-2xx/ {print}' "$work/wrk-idle.txt")
[[ -z "$errors" ]] || echo "  wrk reported: $errors"
echo check >&"${IDLE[1]}"
read -r _ answered <&"${IDLE[0]}"
echo "  idle connections still answering afterwards: $answered/$opened"
[[ "$answered" == "$opened" ]] || { echo "site_bench: idle connections were dropped" >&2; exit 1; }
