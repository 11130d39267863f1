#!/usr/bin/env bash
# The site as deployed (the nginx configuration we ship, in front of two velmora-site copies)
# against nginx serving the same bytes itself, side by side in one run, every request logged
# to a file:
#   - the count address (3 bytes), 50 clients, over plain HTTP and over TLS, against nginx
#     sending a static file holding the same 3 bytes (goal: >= 0.9);
#   - a large media file (300 MB), 1 and 20 clients, against nginx serving it from a plain
#     location (goal: nginx's own speed, >= 0.95), and 64 KB keep-alive ranges at offsets
#     spread over it, as a player seeking asks (median latency, goal <= 1.10), and the same
#     ranges against nginx with tcp_nopush, which the stock nginx.conf turns on and the
#     shipped site turns off (goal: no slower, <= 1.00);
#   - velmora-site alone (no nginx, no cache in front) on the count address against nginx's
#     `return 200` of the same bytes (goal: >= 0.7).
# Rounds alternate which of the pair goes first, so a busy moment on a shared machine hits
# both alike; each round prints the load average it ran under. Prints every figure with its
# round's ratio, then the medians, their ratio against the goal and the median of the
# rounds' ratios. Builds nothing.
#
#   bench/site_bench.sh [BUILD_DIR]      (default build/linux)
#
# Environment: BENCH_DURATION (wrk -d, default 5s), BENCH_ROUNDS (default 3),
# BENCH_MEDIA_MB (default 300), SITE_THREADS (velmora-site --threads).
#
# Needs wrk, nginx, openssl, curl (scripts/setup.sh). Everything runs on loopback; the
# certificate is a throw-away one made here and trusted by nobody.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-build/linux}
site_bin="$build_dir/velmora-site"
duration=${BENCH_DURATION:-5s}
rounds=${BENCH_ROUNDS:-3}
media_mb=${BENCH_MEDIA_MB:-300}
[[ -x "$site_bin" ]] || { echo "site_bench: $site_bin not found (build velmora-site first)" >&2; exit 2; }
for tool in wrk nginx openssl curl; do
    command -v "$tool" >/dev/null || { echo "site_bench: $tool is not installed" >&2; exit 2; }
done

work=$(mktemp -d /tmp/velmora-site-bench.XXXXXX)
pids=()
cleanup() {
    [[ -f "$work/nginx/nginx.pid" ]] && kill "$(cat "$work/nginx/nginx.pid")" 2>/dev/null
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

wait_for_http() { # url
    for _ in $(seq 100); do
        curl -sk -o /dev/null "$1" && return 0
        sleep 0.05
    done
    echo "site_bench: nothing answers at $1" >&2
    exit 1
}

load() { cut -d' ' -f1-3 /proc/loadavg; }

# Files both sides send: random bytes, so nothing along the way can shrink them. Readable by
# nginx's workers, which run as another user when started as root.
chmod 755 "$work"
mkdir -p "$work/site/media" "$work/site/downloads" "$work/reference"
media_file="$work/site/media/001.mp4"
head -c "${media_mb}M" /dev/urandom >"$media_file"
media_size=$(stat -c %s "$media_file")
cat "$media_file" >/dev/null # in the page cache before either side reads it
printf 220 >"$work/reference/count"

host=127.0.0.1
port_base=$((20000 + RANDOM % 20000))
site_ports=($port_base $((port_base + 1)))
plain_port=$((port_base + 2)) tls_port=$((port_base + 3))
ref_plain_port=$((port_base + 4)) ref_tls_port=$((port_base + 5))

openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=$host" \
    -addext "subjectAltName=IP:$host" -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null

# --- two velmora-site copies, as deployed behind nginx ---------------------------------
for port in "${site_ports[@]}"; do
    "$site_bin" --listen "$host" --port "$port" --episodes 220 --media "$work/site/media" \
        --trust-proxy ${SITE_THREADS:+--threads "$SITE_THREADS"} \
        --log-file "$work/site-$port.log" >/dev/null 2>"$work/site-$port.err" &
    pids+=($!)
    wait_for_http "http://$host:$port/"
done

# --- nginx: the shipped site, and beside it the reference answers ----------------------
mkdir -p "$work/nginx/logs" "$work/nginx/tmp" "$work/nginx/cache"
"$root/tests/public/fill-nginx-site.sh" "$root/packaging/nginx/velmora-site" "$host" \
    "$plain_port" "$tls_port" "${site_ports[@]}" "$work/cert.pem" "$work/key.pem" "$work/site" \
    "$work/nginx/cache" >"$work/nginx/velmora-site.conf"
# This machine's stock nginx.conf, as an operator has it (sendfile, tcp_nopush, gzip), with
# the shipped site and beside it the reference answers. Keep-alive connections are never
# closed for their number of requests, on both sides alike.
cat >"$work/nginx/sites.conf" <<CONF
include $work/nginx/velmora-site.conf;
server {
    listen $host:$ref_plain_port;
    listen $host:$ref_tls_port ssl;
    ssl_certificate $work/cert.pem;
    ssl_certificate_key $work/key.pem;
    location = /count { default_type text/plain; alias $work/reference/count; }
    location = /return { default_type text/plain; return 200 "220"; }
    location /media/ { root $work/site; tcp_nopush off; }
    # The same file with the stock file's tcp_nopush, which the shipped site turns off.
    location /corked/ { alias $work/site/; tcp_nopush on; }
}
CONF
"$root/tests/public/stock-nginx-conf.sh" /etc/nginx/nginx.conf "$work/nginx" "$work/nginx/sites.conf" \
    "$work/nginx/logs/access.log" "    keepalive_requests 1000000;" >"$work/nginx/nginx.conf"
nginx -e "$work/nginx/logs/nginx-error.log" -c "$work/nginx/nginx.conf"

count_path="/video/player/?flv=list"
media_path="/media/001.mp4"
declare -A url_of=(
    [count-plain,deployed]="http://$host:$plain_port$count_path"
    [count-plain,nginx]="http://$host:$ref_plain_port/count"
    [count-tls,deployed]="https://$host:$tls_port$count_path"
    [count-tls,nginx]="https://$host:$ref_tls_port/count"
    [media1,deployed]="http://$host:$plain_port$media_path"
    [media1,nginx]="http://$host:$ref_plain_port$media_path"
    [media20,deployed]="http://$host:$plain_port$media_path"
    [media20,nginx]="http://$host:$ref_plain_port$media_path"
    [range,deployed]="http://$host:$plain_port$media_path"
    [range,nginx]="http://$host:$ref_plain_port$media_path"
    [nopush,deployed]="http://$host:$plain_port$media_path"
    [nopush,nginx]="http://$host:$ref_plain_port/corked$media_path"
    [alone,deployed]="http://$host:${site_ports[0]}$count_path"
    [alone,nginx]="http://$host:$ref_plain_port/return")
for key in "${!url_of[@]}"; do
    url=${url_of[$key]}
    wait_for_http "$url"
    if [[ $url == *media* ]]; then
        [[ $(curl -sk -o /dev/null -w '%{http_code} %{size_download}' "$url") == "200 $media_size" ]] ||
            { echo "site_bench: $url does not send the whole media file" >&2; exit 1; }
    else
        [[ $(curl -sk "$url") == 220 ]] || { echo "site_bench: $url does not answer 220" >&2; exit 1; }
    fi
done

cat >"$work/summary.lua" <<'LUA'
done = function(summary, latency, requests)
    local e = summary.errors
    io.write(string.format("SUMMARY %d %d %d %d %.1f\n", summary.requests, summary.bytes,
        summary.duration, e.connect + e.read + e.write + e.status + e.timeout,
        latency:percentile(50)))
end
LUA
cat "$work/summary.lua" >"$work/range.lua"
cat >>"$work/range.lua" <<'LUA'
-- The same sequence of 64 KB pieces for both sides, spread over the whole file.
local chunks, n = 1, 0
init = function(args) chunks = math.floor(tonumber(args[1]) / 65536) end
request = function()
    n = n + 1
    local first = ((n * 7919) % chunks) * 65536
    return wrk.format(nil, nil, {["Range"] = "bytes=" .. first .. "-" .. (first + 65535)})
end
LUA

# run NAME SIDE KIND WRK-ARGS...: one wrk run; its figure goes to figure[NAME,SIDE].
# KIND: rps (requests/s), mbps (MB/s received) or latency (median microseconds).
declare -A figure
run() {
    local name=$1 side=$2 kind=$3
    shift 3
    local out="$work/wrk-$name-$side.txt" requests bytes micros errors p50
    wrk -d"$duration" "$@" "${url_of[$name,$side]}" -- "$media_size" >"$out"
    grep -q '^SUMMARY' "$out" || { echo "site_bench: wrk gave no summary:" >&2; cat "$out" >&2; exit 1; }
    read -r _ requests bytes micros errors p50 < <(grep '^SUMMARY' "$out")
    ((errors == 0)) || echo "    ($side, $name: $errors socket errors or bad statuses)"
    case $kind in
    rps) figure[$name,$side]=$(awk -v r="$requests" -v u="$micros" 'BEGIN {printf "%.0f", r / (u / 1e6)}') ;;
    mbps) figure[$name,$side]=$(awk -v b="$bytes" -v u="$micros" 'BEGIN {printf "%.0f", b / 1048576 / (u / 1e6)}') ;;
    latency)
        figure[$name,$side]=$p50
        # A side that ignored Range would send far more than 64 KB per answer.
        local per=$((bytes / (requests > 0 ? requests : 1)))
        ((per >= 65536 && per < 65536 + 1024)) || echo "    ($side, $name: $per bytes per answer)"
        ;;
    esac
}
measure() { # NAME SIDE
    case $1 in
    count-plain | count-tls | alone) run "$1" "$2" rps -t2 -c50 -s "$work/summary.lua" ;;
    media1) run "$1" "$2" mbps -t1 -c1 --timeout 60s -s "$work/summary.lua" ;;
    media20) run "$1" "$2" mbps -t2 -c20 --timeout 60s -s "$work/summary.lua" ;;
    range | nopush) run "$1" "$2" latency -t1 -c1 -s "$work/range.lua" ;;
    esac
}

names=(count-plain count-tls media1 media20 range nopush alone)
declare -A unit_of=([count-plain]="requests/s" [count-tls]="requests/s" [media1]="MB/s"
    [media20]="MB/s" [range]="us median" [nopush]="us median" [alone]="requests/s")
declare -A label_of=(
    [count-plain]="count, http: deployed / static file"
    [count-tls]="count, https: deployed / static file"
    [media1]="${media_mb} MB, 1 client: deployed / nginx"
    [media20]="${media_mb} MB, 20 clients: deployed / nginx"
    [range]="64 KB ranges, 1 client: deployed / nginx"
    [nopush]="64 KB ranges: deployed / tcp_nopush on"
    [alone]="count: velmora-site alone / return 200")
declare -A goal_of=([count-plain]=">= 0.9" [count-tls]=">= 0.9" [media1]=">= 0.95"
    [media20]=">= 0.95" [range]="<= 1.10" [nopush]="<= 1.00" [alone]=">= 0.7")
declare -A runs round_ratios

echo "The shipped nginx site + two velmora-site copies against nginx alone: wrk -d$duration,"
echo "$rounds alternating rounds, $(nproc) CPUs, every request logged to a file; media $media_size bytes"
for round in $(seq "$rounds"); do
    order=(deployed nginx)
    ((round % 2 == 0)) && order=(nginx deployed)
    echo "round $round (${order[0]} first), load average before: $(load)"
    for name in "${names[@]}"; do
        for side in "${order[@]}"; do
            measure "$name" "$side"
            runs[$name,$side]+="${figure[$name,$side]} "
        done
        ratio=$(awk -v d="${figure[$name,deployed]}" -v n="${figure[$name,nginx]}" \
            'BEGIN {printf "%.2f", (n > 0 ? d / n : 0)}')
        round_ratios[$name]+="$ratio "
        printf '  %-42s %8s / %8s %-10s ratio %s\n' "${label_of[$name]}" \
            "${figure[$name,deployed]}" "${figure[$name,nginx]}" "${unit_of[$name]}" "$ratio"
    done
done
echo "load average after: $(load)"

median() { printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
echo "medians of $rounds rounds:"
for name in "${names[@]}"; do
    read -ra deployed_runs <<<"${runs[$name,deployed]}"
    read -ra nginx_runs <<<"${runs[$name,nginx]}"
    deployed_median=$(median "${deployed_runs[@]}")
    nginx_median=$(median "${nginx_runs[@]}")
    ratio=$(awk -v d="$deployed_median" -v n="$nginx_median" 'BEGIN {printf "%.2f", (n > 0 ? d / n : 0)}')
    verdict=$(awk -v r="$ratio" -v g="${goal_of[$name]}" 'BEGIN {
        split(g, p, " "); ok = p[1] == ">=" ? r >= p[2] : r <= p[2]; print (ok ? "met" : "NOT met") }')
    # The two sides of one round ran back to back, so their ratio is less swayed by a busy
    # moment than the ratio of medians taken from different rounds.
    read -ra ratios <<<"${round_ratios[$name]}"
    printf '  %-42s %8s / %8s %-10s ratio %s  (goal %s: %s; median of round ratios %s)\n' \
        "${label_of[$name]}" "$deployed_median" "$nginx_median" "${unit_of[$name]}" "$ratio" \
        "${goal_of[$name]}" "$verdict" "$(median "${ratios[@]}")"
done
site_lines=$(cat "$work"/site-*.log | wc -l)
nginx_lines=$(wc -l <"$work/nginx/logs/access.log")
echo "  request log lines: nginx $nginx_lines, the two velmora-site copies $site_lines"
