-- The rows an import refused and skipped (zoru-admin --import --keep-going, or the answer Yes to
-- the question when an import stops at a refused row), one row each, under the run of the
-- import journal: the package table, the row's local identifier and workstation, the message.
-- A part of the central schema added after the journal: a new database gets it with the rest,
-- one made before gets it from UpgradeSchema.
CREATE TABLE IMPORTJOURNALREFUSED (
    RUNGID INTEGER NOT NULL,
    ROWNO INTEGER NOT NULL,
    TABLENAME VARCHAR(40) NOT NULL,
    LOCALID VARCHAR(40),
    WSTGID INTEGER,
    MESSAGE VARCHAR(2000),
    CONSTRAINT PK_IMPORTJOURNALREFUSED PRIMARY KEY (RUNGID, ROWNO)
);
