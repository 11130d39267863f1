#!/usr/bin/env bash
# velmora-site against nginx, side by side in one run, both logging every request to a file:
#   - the count address (3 bytes) with 50 clients, requests/s;
#   - a large media file (300 MB) with 1 and with 20 clients, MB/s;
#   - 64 KB keep-alive range requests at spread-out offsets of that file, one client, latency;
# then a check that the site keeps answering while hundreds of idle keep-alive connections
# are open. Rounds alternate the servers (and which goes first), so a busy moment on a
# shared machine hits both alike; each round prints the load average it ran under. Prints
# each figure with its round's ratio site/nginx, then the medians, their ratio against the
# goals and the median of the rounds' ratios. Builds nothing.
#
#   bench/site_bench.sh [BUILD_DIR]      (default build/linux)
#
# Environment: BENCH_DURATION (wrk -d, default 5s), BENCH_ROUNDS (default 3),
# BENCH_IDLE (idle connections, default 500), BENCH_MEDIA_MB (default 300),
# SITE_THREADS (velmora-site --threads).
#
# Needs wrk, nginx (nginx-light), curl and python3 (scripts/setup.sh --bench). Everything
# runs on loopback.
set -euo pipefail

build_dir=${1:-build/linux}
site_bin="$build_dir/velmora-site"
duration=${BENCH_DURATION:-5s}
idle_count=${BENCH_IDLE:-500}
rounds=${BENCH_ROUNDS:-3}
media_mb=${BENCH_MEDIA_MB:-300}
[[ -x "$site_bin" ]] || { echo "site_bench: $site_bin not found (build velmora-site first)" >&2; exit 2; }
for tool in wrk nginx curl python3; do
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

load() { cut -d' ' -f1-3 /proc/loadavg; }

# The media file both servers send: random bytes, so nothing along the way can shrink it.
# Readable by nginx's workers, which run as another user when started as root.
chmod 755 "$work"
mkdir -p "$work/media"
media_file="$work/media/001.mp4"
head -c "${media_mb}M" /dev/urandom >"$media_file"
media_size=$(stat -c %s "$media_file")
cat "$media_file" >/dev/null # in the page cache before either server reads it

# --- wrk scripts: a summary line at the end; ranges at offsets spread over the file -------
cat >"$work/summary.lua" <<'LUA'
done = function(summary, latency, requests)
    local e = summary.errors
    io.write(string.format("SUMMARY %d %d %d %d %.1f %.1f %.1f\n", summary.requests,
        summary.bytes, summary.duration, e.connect + e.read + e.write + e.status + e.timeout,
        latency.mean, latency:percentile(50), latency:percentile(99)))
end
LUA
cat "$work/summary.lua" >"$work/range.lua"
cat >>"$work/range.lua" <<'LUA'
-- The same sequence of 64 KB pieces for both servers, spread over the whole file as a
-- player seeking around would ask.
local chunks, n = 1, 0
init = function(args) chunks = math.floor(tonumber(args[1]) / 65536) end
request = function()
    n = n + 1
    local first = ((n * 7919) % chunks) * 65536
    return wrk.format(nil, nil, {["Range"] = "bytes=" .. first .. "-" .. (first + 65535)})
end
LUA

# --- velmora-site (its request log goes to a file, as when deployed) -------------------
# No per-address limit: every bench client comes from 127.0.0.1.
site_port=$(free_port)
"$site_bin" --port "$site_port" --episodes 220 --media "$work/media" --max-per-address 0 \
    ${SITE_THREADS:+--threads "$SITE_THREADS"} >"$work/site.log" 2>"$work/site.err" &
pids+=($!)
site_base="http://127.0.0.1:$site_port"
wait_for_http "$site_base/"

# --- nginx: the same 3 bytes, the same file, logging to a file too ----------------------
# sendfile on as Debian's nginx.conf has it (faster for large files), but not its
# tcp_nopush: with it, 64 KB keep-alive answers stall up to 40 ms on loopback (a p99 of
# 39 ms against 2.7 ms without), which would flatter the site.
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
    sendfile on;
    types { video/mp4 mp4; }
    server {
        listen 127.0.0.1:$nginx_port;
        location = /video/player/ {
            default_type "text/plain; charset=utf-8";
            return 200 "220";
        }
        location /media/ {
            root $work;
        }
    }
}
CONF
nginx -e "$work/nginx/logs/error.log" -p "$work/nginx" -c "$work/nginx/nginx.conf" &
pids+=($!)
nginx_base="http://127.0.0.1:$nginx_port"
wait_for_http "$nginx_base/video/player/?flv=list"

count_path="/video/player/?flv=list"
media_path="/media/001.mp4"
for base in "$site_base" "$nginx_base"; do
    [[ $(curl -s "$base$count_path") == 220 ]] ||
        { echo "site_bench: $base does not answer 220" >&2; exit 1; }
    [[ $(curl -s -o /dev/null -w '%{http_code} %{size_download}' "$base$media_path") == "200 $media_size" ]] ||
        { echo "site_bench: $base does not send the whole media file" >&2; exit 1; }
    [[ $(curl -s -o /dev/null -w '%{http_code} %{size_download}' -r 65536-131071 "$base$media_path") == "206 65536" ]] ||
        { echo "site_bench: $base does not answer a 64 KB range" >&2; exit 1; }
done

# run NAME KIND SERVER WRK-ARGS...: one wrk run; stores its figure in figure[NAME,SERVER].
# KIND: rps (requests/s), mbps (MB/s received) or latency (median microseconds per request).
declare -A figure
run() {
    local name=$1 kind=$2 server=$3 base
    shift 3
    [[ $server == site ]] && base=$site_base || base=$nginx_base
    local out="$work/wrk-$name-$server.txt"
    wrk -d"$duration" "$@" "$base${path_of[$name]}" -- "$media_size" >"$out"
    local requests bytes micros errors mean p50 p99
    grep -q '^SUMMARY' "$out" || { echo "site_bench: wrk gave no summary:" >&2; cat "$out" >&2; exit 1; }
    read -r _ requests bytes micros errors mean p50 p99 < <(grep '^SUMMARY' "$out")
    ((errors == 0)) || echo "    ($server, $name: $errors socket errors or bad statuses)"
    case $kind in
    rps) figure[$name,$server]=$(awk -v r="$requests" -v u="$micros" 'BEGIN {printf "%.0f", r / (u / 1e6)}') ;;
    mbps) figure[$name,$server]=$(awk -v b="$bytes" -v u="$micros" 'BEGIN {printf "%.0f", b / 1048576 / (u / 1e6)}') ;;
    latency)
        # The median: on a shared machine a few scheduling stalls would swing the mean.
        figure[$name,$server]=$p50
        tail_of[$name,$server]="mean $mean, p99 $p99"
        # A server that ignored Range would send far more than 64 KB per answer.
        local per=$((bytes / (requests > 0 ? requests : 1)))
        ((per >= 65536 && per < 65536 + 1024)) ||
            echo "    ($server, $name: $per bytes per answer, not a 64 KB piece)"
        ;;
    esac
}
declare -A path_of=([count]=$count_path [media1]=$media_path [media20]=$media_path [range]=$media_path)
declare -A tail_of
declare -A unit_of=([count]="requests/s" [media1]="MB/s" [media20]="MB/s" [range]="us median")
declare -A label_of=([count]="count address, 50 clients" [media1]="${media_mb} MB file, 1 client"
    [media20]="${media_mb} MB file, 20 clients" [range]="64 KB ranges, 1 client")
names=(count media1 media20 range)
declare -A runs
declare -A round_ratios

measure() { # NAME SERVER
    case $1 in
    count) run count rps "$2" -t2 -c50 -s "$work/summary.lua" ;;
    media1) run media1 mbps "$2" -t1 -c1 --timeout 60s -s "$work/summary.lua" ;;
    media20) run media20 mbps "$2" -t2 -c20 --timeout 60s -s "$work/summary.lua" ;;
    range) run range latency "$2" -t1 -c1 -s "$work/range.lua" ;;
    esac
}

echo "velmora-site against nginx: wrk -d$duration, $rounds alternating rounds, $(nproc) CPUs,"
echo "both logging each request to a file; media file $media_size bytes"
for round in $(seq "$rounds"); do
    order=(site nginx)
    ((round % 2 == 0)) && order=(nginx site)
    echo "round $round (${order[0]} first), load average before: $(load)"
    for name in "${names[@]}"; do
        for server in "${order[@]}"; do
            measure "$name" "$server"
            runs[$name,$server]+="${figure[$name,$server]} "
        done
        extra=""
        [[ $name == range ]] && extra="  (${tail_of[range,site]} / ${tail_of[range,nginx]})"
        ratio=$(awk -v s="${figure[$name,site]}" -v n="${figure[$name,nginx]}" \
            'BEGIN {printf "%.2f", (n > 0 ? s / n : 0)}')
        round_ratios[$name]+="$ratio "
        printf '  %-28s velmora-site %8s   nginx %8s %-10s ratio %s%s\n' "${label_of[$name]}" \
            "${figure[$name,site]}" "${figure[$name,nginx]}" "${unit_of[$name]}" "$ratio" "$extra"
    done
done
echo "load average after: $(load)"

median() { printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
echo "medians of $rounds rounds, ratio velmora-site/nginx:"
declare -A goal_text=([count]=">= 1.00" [media1]=">= 0.95" [media20]=">= 0.95" [range]="<= 1.10")
for name in "${names[@]}"; do
    read -ra site_runs <<<"${runs[$name,site]}"
    read -ra nginx_runs <<<"${runs[$name,nginx]}"
    site_median=$(median "${site_runs[@]}")
    nginx_median=$(median "${nginx_runs[@]}")
    ratio=$(awk -v s="$site_median" -v n="$nginx_median" 'BEGIN {printf "%.2f", (n > 0 ? s / n : 0)}')
    verdict=$(awk -v r="$ratio" -v g="${goal_text[$name]}" 'BEGIN {
        split(g, p, " "); ok = p[1] == ">=" ? r >= p[2] : r <= p[2]; print ok ? "met" : "NOT met" }')
    # The two servers of one round ran back to back, so their ratio is less swayed by
    # a busy moment than the ratio of medians taken from different rounds.
    read -ra ratios <<<"${round_ratios[$name]}"
    printf '  %-28s velmora-site %8s   nginx %8s %-10s  ratio %s  (goal %s: %s; median of round ratios %s)\n' \
        "${label_of[$name]}" "$site_median" "$nginx_median" "${unit_of[$name]}" "$ratio" \
        "${goal_text[$name]}" "$verdict" "$(median "${ratios[@]}")"
done
site_lines=$(wc -l <"$work/site.log")
nginx_lines=$(wc -l <"$work/nginx/logs/access.log")
echo "  request log lines written: velmora-site $site_lines, nginx $nginx_lines"
grep -q 'request log lines dropped' "$work/site.log" && echo "  velmora-site dropped log lines"

# --- idle keep-alive connections -------------------------------------------------------
# Holds N connections: half have asked once and wait as keep-alive, half never spoke. On
# "check" (a line on stdin) each asks again and the count of answers is printed.
site_url="$site_base$count_path"
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
pids+=("$IDLE_PID")
read -r _ opened <&"${IDLE[0]}"
echo "with $opened idle keep-alive connections open to velmora-site (load $(load)):"
wrk -t2 -c50 -d"$duration" "$site_url" >"$work/wrk-idle.txt"
printf '  velmora-site  %12s requests/s\n' "$(awk '/Requests\/sec:/ {print $2}' "$work/wrk-idle.txt")"
errors=$(awk '/Socket errors|Non-2xx/ {print}' "$work/wrk-idle.txt")
[[ -z "$errors" ]] || echo "  wrk reported: $errors"
echo check >&"${IDLE[1]}"
read -r _ answered <&"${IDLE[0]}"
echo "  idle connections still answering afterwards: $answered/$opened"
[[ "$answered" == "$opened" ]] || { echo "site_bench: idle connections were dropped" >&2; exit 1; }
