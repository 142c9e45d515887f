-- pmservice: the service team's change journal on a PostgreSQL server.
-- Server schema version 1.
--
-- Every laptop's pmservice and pmctl send the entries of their local journal
-- here, each once, identified by the UUID it was begun with. An entry sent
-- while its write was under way ("не завершено") is completed here once it
-- is finished on the laptop; after that nobody changes or deletes it: the
-- triggers below refuse it, whatever the role's privileges, so the history
-- is tamper-evident.
--
-- Run once, as the database's owner, in the database of the team's journal:
--   psql -d pmservice -f team-server.sql
-- then give each engineer (or one shared login) the role pmservice_writer:
--   CREATE ROLE engineer LOGIN PASSWORD '...' IN ROLE pmservice_writer;

BEGIN;

CREATE SCHEMA pmservice;

-- The schema version the programs check before they send.
CREATE TABLE pmservice.schema_version (version integer NOT NULL);
INSERT INTO pmservice.schema_version VALUES (1);

CREATE TABLE pmservice.entries (
  -- The server's own numbering, in the order entries arrived.
  id bigint GENERATED ALWAYS AS IDENTITY UNIQUE,
  uuid uuid PRIMARY KEY,
  local_id bigint NOT NULL,          -- the entry's number in the laptop's journal
  at_ms bigint NOT NULL,             -- milliseconds since 1970 (UTC)
  at text NOT NULL,                  -- local time with its UTC offset
  port text NOT NULL,
  address integer NOT NULL,
  model integer NOT NULL,
  version integer NOT NULL,
  access integer NOT NULL,
  identification text NOT NULL,
  operation text NOT NULL,
  "user" text NOT NULL,
  host text NOT NULL,
  program text NOT NULL,
  before bytea NOT NULL,             -- the parameter block before the write
  before_read_ms bigint NOT NULL,
  sent bytea NOT NULL,               -- the block sent
  after bytea NOT NULL,              -- the block read back
  outcome smallint NOT NULL,         -- 0 not finished, 1 done, 2 failed, 3 refused, 4 event
  step text NOT NULL,
  result integer NOT NULL,
  detail text NOT NULL,
  received timestamptz NOT NULL DEFAULT now(),
  finished timestamptz
);
CREATE INDEX entries_instrument ON pmservice.entries (port, address, at_ms);
CREATE INDEX entries_time ON pmservice.entries (at_ms);

-- An entry not finished may be finished once: its outcome and the blocks
-- sent and read back set, nothing else. A finished entry never changes.
CREATE FUNCTION pmservice.entries_guard_update() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  IF OLD.outcome <> 0 THEN
    RAISE EXCEPTION 'pmservice: entry % is finished and cannot be changed', OLD.uuid
      USING ERRCODE = 'integrity_constraint_violation';
  END IF;
  IF (NEW.uuid, NEW.id, NEW.local_id, NEW.at_ms, NEW.at, NEW.port, NEW.address, NEW.model, NEW.version,
      NEW.access, NEW.identification, NEW.operation, NEW."user", NEW.host, NEW.program, NEW.before,
      NEW.before_read_ms, NEW.received)
     IS DISTINCT FROM
     (OLD.uuid, OLD.id, OLD.local_id, OLD.at_ms, OLD.at, OLD.port, OLD.address, OLD.model, OLD.version,
      OLD.access, OLD.identification, OLD.operation, OLD."user", OLD.host, OLD.program, OLD.before,
      OLD.before_read_ms, OLD.received) THEN
    RAISE EXCEPTION 'pmservice: only the outcome of entry % may be completed', OLD.uuid
      USING ERRCODE = 'integrity_constraint_violation';
  END IF;
  IF NEW.outcome <> 0 THEN
    NEW.finished := now();
  END IF;
  RETURN NEW;
END $$;

-- When an entry arrived and was finished is the server's own time.
CREATE FUNCTION pmservice.entries_stamp() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  NEW.received := now();
  NEW.finished := CASE WHEN NEW.outcome <> 0 THEN now() END;
  RETURN NEW;
END $$;

CREATE FUNCTION pmservice.entries_guard_delete() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  RAISE EXCEPTION 'pmservice: entries of the change journal are never deleted'
    USING ERRCODE = 'integrity_constraint_violation';
END $$;

CREATE TRIGGER entries_stamp BEFORE INSERT ON pmservice.entries
  FOR EACH ROW EXECUTE FUNCTION pmservice.entries_stamp();
CREATE TRIGGER entries_guard_update BEFORE UPDATE ON pmservice.entries
  FOR EACH ROW EXECUTE FUNCTION pmservice.entries_guard_update();
CREATE TRIGGER entries_guard_delete BEFORE DELETE ON pmservice.entries
  FOR EACH ROW EXECUTE FUNCTION pmservice.entries_guard_delete();
CREATE TRIGGER entries_guard_truncate BEFORE TRUNCATE ON pmservice.entries
  FOR EACH STATEMENT EXECUTE FUNCTION pmservice.entries_guard_delete();

-- The role of the programs: insert, read, and complete an unfinished entry
-- (INSERT ... ON CONFLICT DO UPDATE needs UPDATE). No DELETE, no TRUNCATE.
DO $$
BEGIN
  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'pmservice_writer') THEN
    CREATE ROLE pmservice_writer NOLOGIN;
  END IF;
END $$;
GRANT USAGE ON SCHEMA pmservice TO pmservice_writer;
GRANT SELECT ON pmservice.schema_version TO pmservice_writer;
GRANT SELECT, INSERT, UPDATE ON pmservice.entries TO pmservice_writer;

COMMIT;
