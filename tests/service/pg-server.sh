#!/bin/sh
# Throwaway PostgreSQL servers (and a pooler) for the catalogue store tests.
#
#   pg-server.sh start DIR [PORT]             create a cluster and start it
#   pg-server.sh standby DIR PRIMARY [PORT]   a streaming standby of the
#                                             server started at PRIMARY
#   pg-server.sh pooler DIR SERVER [PORT]     PgBouncer in transaction pooling
#                                             mode in front of SERVER
#   pg-server.sh halt DIR                     stop the server, keep DIR
#   pg-server.sh stop DIR                     stop it and remove everything
#
# The server's data and socket live in a private temporary folder that the
# server's user owns (mktemp -d); DIR, usually in the build tree, is only a
# symbolic link to it. So the server runs wherever the clone is, even in a
# home folder closed to the server's user. Each server listens only on a
# Unix socket in its folder (no TCP), trusts local connections, and holds one
# database "kevra" owned by the role "kevra"; the connection string is in
# DIR/conninfo:
#   host=/tmp/kevra-pg.XXXXXX port=54329 user=kevra dbname=kevra
# PostgreSQL (and PgBouncer) refuse to run as root, so under root they run
# as the system user kevra-pg (created when missing; nobody when it cannot
# be). When initdb is missing, the Debian package postgresql is installed
# (root only; pgbouncer alike). Outside CI a server that cannot be had is
# reported and the start still succeeds, leaving DIR/unavailable, so the
# tests skip; with CI=true it fails, so they fail.
set -eu

action=${1:-}
dir=${2:-}
usage() {
    echo "usage: pg-server.sh start DIR [PORT] | standby DIR PRIMARY [PORT] |" \
        "pooler DIR SERVER [PORT] | halt DIR | stop DIR" >&2
    exit 2
}
[ -n "$action" ] && [ -n "$dir" ] || usage
case "$action" in
    start) PORT=${3:-54329} ;;
    standby | pooler)
        upstream=${3:-}
        [ -n "$upstream" ] || usage
        PORT=${4:-54329}
        ;;
    halt | stop) PORT= ;;
    *) usage ;;
esac

say() { echo "pg-server: $*" >&2; }

unavailable() {
    say "$*"
    if [ "${CI:-}" = "true" ]; then
        say "CI=true: the PostgreSQL tests must run, so this is a failure"
        exit 1
    fi
    say "the PostgreSQL tests will be skipped"
    remove_link
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

install_package() {
    if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
        say "$2 not found: installing the Debian package $1"
        DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$1" >&2 ||
            unavailable "apt-get could not install $1"
    else
        unavailable "$2 not found; install it (Debian: apt-get install $1)"
    fi
}

need_bin() {
    bin=$(find_bin) || {
        install_package postgresql initdb
        bin=$(find_bin) || unavailable "postgresql is installed but initdb is still missing"
    }
}

# The private folder a server or pooler runs in, linked from DIR.
make_home() {
    pick_user
    # A server left over from an earlier run in the same place goes first.
    if [ -e "$dir" ] || [ -L "$dir" ]; then stop; fi
    mkdir -p "$(dirname "$dir")"
    home=$(mktemp -d "${TMPDIR:-/tmp}/kevra-pg.XXXXXX") || unavailable "mktemp -d failed"
    if [ "$(id -u)" -eq 0 ]; then
        chown "$server_user" "$home"
        if ! runuser -u "$server_user" -- test -w "$home"; then
            # TMPDIR may itself be closed to the server's user.
            rmdir "$home"
            home=$(mktemp -d /tmp/kevra-pg.XXXXXX) || unavailable "mktemp -d failed"
            chown "$server_user" "$home"
            runuser -u "$server_user" -- test -w "$home" ||
                unavailable "the user $server_user cannot reach $home"
        fi
    fi
    ln -s "$home" "$dir"
}

# The socket folder of a server started by this script at $1.
upstream_home() {
    [ -L "$1" ] || unavailable "no server was started at $1"
    readlink "$1"
}

start_server() {
    as_server "$bin/pg_ctl" -D "$home/data" -l "$home/server.log" -w -t 60 \
        -o "-c listen_addresses= -c unix_socket_directories=$home -c port=$PORT -c fsync=off -c max_connections=150" \
        start >&2 || {
        cat "$home/server.log" >&2 || true
        unavailable "the server did not start"
    }
}

start() {
    need_bin
    make_home
    as_server "$bin/initdb" -D "$home/data" -U kevra -A trust -E UTF8 --locale=C --no-sync \
        >"$home/initdb.log" 2>&1 || {
        cat "$home/initdb.log" >&2
        unavailable "initdb failed"
    }
    start_server
    as_server "$bin/createdb" -h "$home" -p "$PORT" -U kevra kevra ||
        unavailable "createdb failed"
    echo "host=$home port=$PORT user=kevra dbname=kevra" >"$home/conninfo"
    say "running: $(cat "$home/conninfo")"
}

standby() {
    need_bin
    primary=$(upstream_home "$upstream")
    primary_port=$(sed -n 's/.* port=\([0-9]*\) .*/\1/p' "$primary/conninfo")
    make_home
    # -R leaves the standby's settings (standby.signal, primary_conninfo).
    as_server "$bin/pg_basebackup" -D "$home/data" -R -X stream -c fast --no-sync \
        -h "$primary" -p "$primary_port" -U kevra >"$home/basebackup.log" 2>&1 || {
        cat "$home/basebackup.log" >&2
        unavailable "pg_basebackup of $primary failed"
    }
    start_server
    echo "host=$home port=$PORT user=kevra dbname=kevra" >"$home/conninfo"
    say "standby running: $(cat "$home/conninfo")"
}

pooler() {
    command -v pgbouncer >/dev/null 2>&1 || install_package pgbouncer pgbouncer
    server=$(upstream_home "$upstream")
    server_port=$(sed -n 's/.* port=\([0-9]*\) .*/\1/p' "$server/conninfo")
    make_home
    echo '"kevra" ""' >"$home/users.txt"
    # Two server connections for every client: statements of one client
    # land on different server connections, as they do at a large site.
    cat >"$home/pgbouncer.ini" <<EOF
[databases]
kevra = host=$server port=$server_port dbname=kevra user=kevra

[pgbouncer]
unix_socket_dir = $home
listen_port = $PORT
auth_type = trust
auth_file = $home/users.txt
pool_mode = transaction
default_pool_size = 2
max_client_conn = 200
logfile = $home/pgbouncer.log
pidfile = $home/pgbouncer.pid
EOF
    if [ "$(id -u)" -eq 0 ]; then chown "$server_user" "$home"/*; fi
    as_server pgbouncer -d -q "$home/pgbouncer.ini" >&2 || {
        cat "$home/pgbouncer.log" >&2 || true
        unavailable "pgbouncer did not start"
    }
    # It forks away before its socket is there.
    tries=0
    while [ ! -S "$home/.s.PGSQL.$PORT" ] && [ $tries -lt 100 ]; do
        sleep 0.1
        tries=$((tries + 1))
    done
    [ -S "$home/.s.PGSQL.$PORT" ] || unavailable "pgbouncer opened no socket in $home"
    echo "host=$home port=$PORT user=kevra dbname=kevra" >"$home/conninfo"
    say "pooler running: $(cat "$home/conninfo")"
}

halt() {
    if [ -L "$dir" ]; then
        home=$(readlink "$dir")
    elif [ -d "$dir" ]; then
        home=$dir # left by an earlier layout, which kept the server here
    else
        return 0
    fi
    if [ -f "$home/pgbouncer.pid" ]; then
        kill "$(cat "$home/pgbouncer.pid")" 2>/dev/null || true
        tries=0
        while [ -f "$home/pgbouncer.pid" ] && [ $tries -lt 50 ]; do
            sleep 0.1
            tries=$((tries + 1))
        done
    fi
    if [ -d "$home/data" ]; then
        bin=$(find_bin) || return 0
        pick_user
        if [ "$(id -u)" -eq 0 ]; then server_user=$(stat -c %U "$home/data"); fi
        as_server "$bin/pg_ctl" -D "$home/data" -m immediate -w stop >/dev/null 2>&1 || true
    fi
}

remove_link() {
    if [ -L "$dir" ]; then
        home=$(readlink "$dir")
        rm -f "$dir"
        case "$home" in */kevra-pg.*) rm -rf "$home" ;; esac
    elif [ -e "$dir" ]; then
        rm -rf "$dir"
    fi
}

stop() {
    halt
    remove_link
}

case "$action" in
    start) start ;;
    standby) standby ;;
    pooler) pooler ;;
    halt) halt ;;
    stop) stop ;;
esac
