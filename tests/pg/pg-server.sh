#!/bin/bash
# A throwaway PostgreSQL server for the logbook's server tests and benchmarks, from the Debian
# package: a cluster in a fresh temporary folder, run by an unprivileged account (the postgres
# system account when started as root, else the caller), listening on a Unix socket in that folder
# only. Source this file, then:
#   pg_start            sets PG_DIR (the folder and socket directory) and PG_AS (runs a command as
#                       the server's account); the server's superuser is that account's name
#   pg_kill             SIGKILLs the server and every process of it (by their ids)
#   pg_restart          starts the killed or stopped server again on the same folder
#   pg_stop             stops it and removes the folder (also on EXIT, through the trap)

PG_BIN=${PG_BIN:-$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n1)}

pg_start() {
    if [ ! -x "$PG_BIN/initdb" ]; then
        echo "no PostgreSQL server binaries (install the postgresql package)" >&2
        return 1
    fi
    PG_DIR=$(mktemp -d /tmp/lmx207-pg.XXXXXX)
    chmod 755 "$PG_DIR"
    if [ "$(id -u)" = 0 ]; then
        chown postgres: "$PG_DIR"
        PG_AS=(runuser -u postgres --)
        PG_SUPERUSER=postgres
    else
        PG_AS=()
        PG_SUPERUSER=$(id -un)
    fi
    "${PG_AS[@]}" "$PG_BIN/initdb" -D "$PG_DIR/data" -U "$PG_SUPERUSER" -A trust -E UTF8 >"$PG_DIR/initdb.log" 2>&1 || {
        cat "$PG_DIR/initdb.log" >&2
        return 1
    }
    cat >>"$PG_DIR/data/postgresql.conf" <<CONF
listen_addresses = ''
unix_socket_directories = '$PG_DIR'
fsync = on
CONF
    trap pg_stop EXIT
    pg_restart
}

pg_restart() {
    "${PG_AS[@]}" "$PG_BIN/pg_ctl" -D "$PG_DIR/data" -l "$PG_DIR/server.log" -w start >/dev/null 2>&1 || {
        cat "$PG_DIR/server.log" >&2
        return 1
    }
}

pg_kill() {
    local pid
    pid=$(head -n1 "$PG_DIR/data/postmaster.pid" 2>/dev/null) || return 0
    local children
    children=$(pgrep -P "$pid")
    kill -KILL "$pid" $children 2>/dev/null
    while kill -0 "$pid" 2>/dev/null; do sleep 0.05; done
    for c in $children; do
        while kill -0 "$c" 2>/dev/null; do sleep 0.05; done
    done
}

pg_stop() {
    [ -n "$PG_DIR" ] || return 0
    "${PG_AS[@]}" "$PG_BIN/pg_ctl" -D "$PG_DIR/data" -m immediate -w stop >/dev/null 2>&1
    rm -rf "$PG_DIR"
    PG_DIR=
}

# psql as the server's superuser on database $1 (default postgres), statements on standard input
# or as further arguments.
pg_psql() {
    local db=${1:-postgres}
    shift
    "${PG_AS[@]}" "$PG_BIN/psql" -X -q -v ON_ERROR_STOP=1 -h "$PG_DIR" -d "$db" "$@"
}

# Run as a command (the suites call it so): pg-server.sh kill|restart DIR, pg-server.sh psql DIR DB ARGS...
if [ "${BASH_SOURCE[0]}" = "$0" ] && [ $# -ge 2 ]; then
    PG_DIR=$2
    if [ "$(id -u)" = 0 ]; then PG_AS=(runuser -u postgres --); else PG_AS=(); fi
    case $1 in
    kill) pg_kill ;;
    restart) pg_restart ;;
    psql) shift 2; pg_psql "$@" ;;
    *) echo "pg-server.sh: kill, restart or psql" >&2; exit 1 ;;
    esac
fi
