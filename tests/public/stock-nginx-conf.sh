#!/usr/bin/env bash
# Prints this machine's stock nginx.conf (Debian's /etc/nginx/nginx.conf) as an operator
# has it, with only what a test's own nginx must change: its pid, logs and temporary files
# in PREFIX, and in place of the machine's conf.d and sites-enabled the filled-in site file
# (fill-nginx-site.sh). Everything else the stock file sets (sendfile, tcp_nopush, gzip,
# ssl_protocols, ...) stays, so what an operator's nginx does is what the tests see.
#
#   stock-nginx-conf.sh STOCK PREFIX SITE_CONF ACCESS_LOG [HTTP_LINES]
#
# ACCESS_LOG: what follows access_log (a file and a format name); HTTP_LINES: put first in
# http (a log_format, say). Fails, naming the lines, when a path of the machine's own is
# left: the stock file has changed shape and this must follow it. Start nginx without -p:
# the modules the stock file loads are named relative to nginx's own prefix.
set -euo pipefail
[[ $# == 4 || $# == 5 ]] || { echo "usage: $0 STOCK PREFIX SITE_CONF ACCESS_LOG [HTTP_LINES]" >&2; exit 2; }
stock=$1 prefix=$2 site=$3 access_log=$4 http_lines=${5:-}

own="    client_body_temp_path $prefix/tmp/body;
    proxy_temp_path $prefix/tmp/proxy;
    fastcgi_temp_path $prefix/tmp/fastcgi;
    uwsgi_temp_path $prefix/tmp/uwsgi;
    scgi_temp_path $prefix/tmp/scgi;
$http_lines"
# Through the environment: awk -v would read backslashes in them as escapes.
filled=$(PREFIX=$prefix SITE=$site ACCESS_LOG=$access_log OWN=$own awk '
    BEGIN { prefix = ENVIRON["PREFIX"] }
    /^[[:space:]]*pid[[:space:]]/ { print "pid " prefix "/nginx.pid;"; next }
    /^[[:space:]]*error_log[[:space:]]/ { print "error_log " prefix "/logs/nginx-error.log;"; next }
    /^[[:space:]]*access_log[[:space:]]/ { print "\taccess_log " ENVIRON["ACCESS_LOG"] ";"; next }
    /^[[:space:]]*include[[:space:]]+\/etc\/nginx\/conf\.d\// { next }
    /^[[:space:]]*include[[:space:]]+\/etc\/nginx\/sites-enabled\// { print "\tinclude " ENVIRON["SITE"] ";"; next }
    { print }
    /^http[[:space:]]*\{/ { print ENVIRON["OWN"] }
' "$stock")
left=$(grep -v '^[[:space:]]*#' <<<"$filled" | sed "s|$prefix|PREFIX|g; s|$site|SITE|g" |
    grep -nE '(^|[[:space:]])/(etc|var|run|srv|home)/' |
    grep -vE 'include /etc/nginx/(mime\.types|modules-enabled/\*\.conf);' || true)
if [[ -n $left || $filled != *"include $site;"* || $filled != *"pid $prefix/"* ]]; then
    echo "$left" >&2
    echo "$0: $stock changed shape: the lines above, its pid or its sites were not filled in" >&2
    exit 1
fi
printf '%s\n' "$filled"
