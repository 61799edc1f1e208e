-- The roles of the team's archive on a PostgreSQL server. Run by the owner of the archive's tables
-- (the role that ran `lmx207-logbook server init`), after that, and again after a newer logbook's
-- `server init` added tables:
--     psql "host=db.example dbname=lmx207 user=lmx207_owner" -f server-grants.sql
-- lmx207_writer: the laptops' role. It reads everything and adds rows; it changes only the
-- columns a sync fills in later (a write's "applied" decision and the read-back that decided it,
-- a visit's addresses told by a later configuration read, a unit's count of events). It may not
-- delete, empty, alter or drop anything.
-- lmx207_reader: office PCs and auditors; reads only.

\set ON_ERROR_STOP on
BEGIN;
REVOKE ALL ON ALL TABLES IN SCHEMA public FROM PUBLIC, lmx207_writer, lmx207_reader;
REVOKE CREATE ON SCHEMA public FROM PUBLIC;
GRANT USAGE ON SCHEMA public TO lmx207_writer, lmx207_reader;

GRANT SELECT ON schema_version, archive_identity TO lmx207_writer;
GRANT SELECT, INSERT ON visits, units, reads, events, config_snapshots, clock_readings, actions TO lmx207_writer;
GRANT UPDATE (applied, decided_by_id) ON actions TO lmx207_writer;
GRANT UPDATE (local_address, remote_address) ON visits TO lmx207_writer;
GRANT UPDATE (event_count) ON units TO lmx207_writer;

GRANT SELECT ON ALL TABLES IN SCHEMA public TO lmx207_reader;
COMMIT;
