#!/usr/bin/env bash
# Prints the shipped nginx site file with the parts an operator edits filled in, for the
# public tests and bench/site_bench.sh:
#
#   fill-nginx-site.sh SHIPPED HOST HTTP_PORT HTTPS_PORT COPY_PORT COPY_PORT CERT KEY ROOT CACHE
#
# The two copies listen on HOST; ROOT holds media/ and downloads/; CACHE is nginx's cache
# folder. Fails, naming the lines, when anything of this machine's own nginx, folders or
# addresses would be left: the shipped file has changed shape and this must follow it.
set -euo pipefail
[[ $# == 10 ]] || { echo "usage: $0 SHIPPED HOST HTTP_PORT HTTPS_PORT COPY_PORT COPY_PORT CERT KEY ROOT CACHE" >&2; exit 2; }
shipped=$1 host=$2 http_port=$3 https_port=$4 copy1=$5 copy2=$6 cert=$7 key=$8 root=$9 cache=${10}

filled=$(sed -e "s|server 127\.0\.0\.1:8848 |server $host:$copy1 |" \
    -e "s|server 127\.0\.0\.1:8849 |server $host:$copy2 |" \
    -e "s|^\([[:space:]]*\)listen 80;|\1listen $host:$http_port;|" \
    -e "s|^\([[:space:]]*\)listen 443 ssl http2;|\1listen $host:$https_port ssl http2;|" \
    -e '/^[[:space:]]*listen \[::\]:/d' \
    -e "s|/etc/ssl/velmora-site/fullchain\.pem|$cert|" \
    -e "s|/etc/ssl/velmora-site/privkey\.pem|$key|" \
    -e "s|^\([[:space:]]*\)root /var/lib/velmora-site;|\1root $root;|" \
    -e "s|^proxy_cache_path /var/lib/nginx/velmora-site |proxy_cache_path $cache |" \
    "$shipped")
left=$(grep -v '^[[:space:]]*#' <<<"$filled" |
    sed -e "s|$cert|CERT|g" -e "s|$key|KEY|g" -e "s|$root|ROOT|g" -e "s|$cache|CACHE|g" |
    grep -nE '127\.0\.0\.1:884[89]|(^|[[:space:]])/(etc|var|run|srv|home)/|listen (\[::\]:)?(80|443);|listen 443 ' ||
    true)
if [[ -n $left ]]; then
    echo "$left" >&2
    echo "$0: $shipped changed shape: the lines above were not filled in" >&2
    exit 1
fi
printf '%s\n' "$filled"
