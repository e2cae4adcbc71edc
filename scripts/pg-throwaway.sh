#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for the results store's tests.
#   scripts/pg-throwaway.sh start DIR PORT   make (first time) and start it
#   scripts/pg-throwaway.sh stop DIR         stop it (the data stays)
#   scripts/pg-throwaway.sh start DIR PORT   start it again
# Trust authentication on 127.0.0.1 only; user and database "postgres".
# The server refuses to run as root: as root it runs as the postgres user.
set -euo pipefail
action=${1:?start or stop}
dir=${2:?data directory}
port=${3:-55432}

bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
if [ -z "$bin" ]; then
  echo "pg-throwaway: no PostgreSQL server installed (Debian: postgresql)" >&2
  exit 1
fi
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

case "$action" in
  start)
    if [ ! -f "$dir/PG_VERSION" ]; then
      mkdir -p "$dir"
      [ "$(id -u)" -eq 0 ] && chown postgres: "$dir"
      as_owner "$bin/initdb" -D "$dir" -A trust -U postgres --no-sync >"$dir.initdb.log" 2>&1 ||
        { cat "$dir.initdb.log" >&2; exit 1; }
    fi
    as_owner "$bin/pg_ctl" -D "$dir" -l "$dir/server.log" -w -t 30 \
      -o "-p $port -k $dir -c listen_addresses=127.0.0.1 -c fsync=off" start >/dev/null
    ;;
  stop)
    as_owner "$bin/pg_ctl" -D "$dir" -m fast -w -t 30 stop >/dev/null
    ;;
  *)
    echo "pg-throwaway: start or stop" >&2
    exit 2
    ;;
esac
