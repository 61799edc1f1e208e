#!/bin/bash
# Runs a suite against a throwaway PostgreSQL server (pg-server.sh): the server is started in a
# temporary folder, listening on a Unix socket there only, with two roles, lmx207_writer (owns the
# suite's databases) and lmx207_reader (may only read), and stopped when the suite ends.
# Usage: run-pg-tests.sh SUITE [ARGS...]
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/pg-server.sh"
pg_start || exit 1
pg_psql postgres -c "CREATE ROLE lmx207_writer LOGIN" -c "CREATE ROLE lmx207_reader LOGIN" || exit 1
export LMX207_PG_DIR=$PG_DIR LMX207_PG_SH=$here/pg-server.sh
# libpq's defaults from the caller's environment would point elsewhere.
unset PGHOST PGPORT PGDATABASE PGUSER PGPASSWORD PGSERVICE PGSSLMODE
"$@"
