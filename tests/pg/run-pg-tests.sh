#!/bin/bash
# Runs a suite against a throwaway PostgreSQL server (pg-server.sh): the server is started in a
# temporary folder, listening on a Unix socket there only, with the roles the server's set-up
# names: lmx207_owner (owns the suite's databases and the archive's tables), lmx207_writer (the
# laptops' role) and lmx207_reader (may only read), granted by docs/server-grants.sql; and
# lmx207_secret, a laptops' role that must give the password "s3cret w0rd" (every other role is
# trusted on the socket). The server is stopped when the suite ends.
# Usage: run-pg-tests.sh SUITE [ARGS...]
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/pg-server.sh"
pg_start || exit 1
pg_psql postgres -c "CREATE ROLE lmx207_owner LOGIN" -c "CREATE ROLE lmx207_writer LOGIN" \
    -c "CREATE ROLE lmx207_reader LOGIN" -c "CREATE ROLE lmx207_secret LOGIN PASSWORD 's3cret w0rd' IN ROLE lmx207_writer" || exit 1
hba=$PG_DIR/data/pg_hba.conf
"${PG_AS[@]}" sh -c "{ echo 'local all lmx207_secret scram-sha-256'; cat '$hba'; } > '$hba.new' && mv '$hba.new' '$hba'" || exit 1
"${PG_AS[@]}" "$PG_BIN/pg_ctl" -D "$PG_DIR/data" reload >/dev/null || exit 1
export LMX207_PG_DIR=$PG_DIR LMX207_PG_SH=$here/pg-server.sh LMX207_PG_GRANTS=$here/../../docs/server-grants.sql
# libpq's defaults from the caller's environment would point elsewhere.
unset PGHOST PGPORT PGDATABASE PGUSER PGPASSWORD PGSERVICE PGSSLMODE PGPASSFILE PGSERVICEFILE
"$@"
