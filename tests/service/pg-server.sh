#!/bin/sh
# A throwaway PostgreSQL server for the catalogue store tests.
#
#   pg-server.sh start DIR    create a cluster in DIR and start it
#   pg-server.sh stop DIR     stop it and remove DIR
#
# The server listens only on a Unix socket in DIR (no TCP), trusts local
# connections, and holds one database "kevra" owned by the role "kevra"; the
# connection string is written to DIR/conninfo:
#   host=DIR port=54329 user=kevra dbname=kevra
# PostgreSQL refuses to run as root, so under root the server runs as the
# system user kevra-pg (created when missing; nobody when it cannot be).
# When initdb is missing, the Debian package postgresql is installed (root
# only). Outside CI a server that cannot be had is reported and the start
# still succeeds, so the tests skip; with CI=true it fails, so they fail.
set -eu

PORT=54329
action=${1:-}
dir=${2:-}
if [ -z "$action" ] || [ -z "$dir" ]; then
    echo "usage: pg-server.sh start|stop DIR" >&2
    exit 2
fi

say() { echo "pg-server: $*" >&2; }

unavailable() {
    say "$*"
    if [ "${CI:-}" = "true" ]; then
        say "CI=true: the PostgreSQL tests must run, so this is a failure"
        exit 1
    fi
    say "the PostgreSQL tests will be skipped"
    mkdir -p "$dir"
    echo "$*" >"$dir/unavailable"
    exit 0
}

find_bin() {
    for d in $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V -r); do
        if [ -x "$d/initdb" ]; then
            echo "$d"
            return 0
        fi
    done
    if command -v initdb >/dev/null 2>&1; then
        dirname "$(command -v initdb)"
        return 0
    fi
    return 1
}

# Runs a command as the server's user.
as_server() {
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u "$server_user" -- "$@"
    else
        "$@"
    fi
}

pick_user() {
    server_user=$(id -un)
    [ "$(id -u)" -eq 0 ] || return 0
    if id kevra-pg >/dev/null 2>&1; then
        server_user=kevra-pg
    elif useradd --system --no-create-home --home-dir /nonexistent \
            --shell /usr/sbin/nologin kevra-pg >/dev/null 2>&1; then
        server_user=kevra-pg
    else
        server_user=nobody
    fi
}

start() {
    bin=$(find_bin) || {
        if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
            say "initdb not found: installing the Debian package postgresql"
            DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
                postgresql >&2 || unavailable "apt-get could not install postgresql"
            bin=$(find_bin) || unavailable "postgresql is installed but initdb is still missing"
        else
            unavailable "initdb not found; install PostgreSQL (Debian: apt-get install postgresql)"
        fi
    }
    pick_user
    # A server left over from an earlier run in the same place goes first.
    [ -d "$dir/data" ] && stop_quietly
    rm -rf "$dir"
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    if [ "$(id -u)" -eq 0 ]; then
        chown "$server_user" "$dir"
        chmod 0700 "$dir"
        runuser -u "$server_user" -- test -w "$dir" ||
            unavailable "the user $server_user cannot reach $dir (a parent folder is closed to it)"
    fi
    as_server "$bin/initdb" -D "$dir/data" -U kevra -A trust -E UTF8 --locale=C --no-sync \
        >"$dir/initdb.log" 2>&1 || {
        cat "$dir/initdb.log" >&2
        unavailable "initdb failed"
    }
    as_server "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
        -o "-c listen_addresses= -c unix_socket_directories=$dir -c port=$PORT -c fsync=off" \
        start >&2 || {
        cat "$dir/server.log" >&2 || true
        unavailable "the server did not start"
    }
    as_server "$bin/createdb" -h "$dir" -p "$PORT" -U kevra kevra ||
        unavailable "createdb failed"
    echo "host=$dir port=$PORT user=kevra dbname=kevra" >"$dir/conninfo"
    say "running: $(cat "$dir/conninfo")"
}

stop_quietly() {
    bin=$(find_bin) || return 0
    as_server "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
}

stop() {
    if [ -d "$dir/data" ]; then
        pick_user
        if [ "$(id -u)" -eq 0 ]; then server_user=$(stat -c %U "$dir/data"); fi
        stop_quietly
    fi
    rm -rf "$dir"
}

case "$action" in
    start) start ;;
    stop) stop ;;
    *)
        echo "usage: pg-server.sh start|stop DIR" >&2
        exit 2
        ;;
esac
