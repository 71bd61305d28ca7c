-- Import journal: one row per import run, written on a connection of its own in short
-- transactions of its own (RESULT is "не завершён" until the run writes its end), so that a
-- failed or rolled-back import keeps its record. A part of the central schema added after its
-- first version: a new database gets it with the rest, one made before gets it from
-- UpgradeSchema.
CREATE TABLE IMPORTJOURNAL (
    RUNGID INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL,
    PKGNAME VARCHAR(255) NOT NULL,
    PKGSIZE BIGINT,
    PKGSHA256 VARCHAR(64),
    PKGLABEL VARCHAR(255),
    WSTGID INTEGER,
    CENTRALUSER VARCHAR(64),
    OSUSER VARCHAR(64),
    STARTTIME TIMESTAMP NOT NULL,
    ENDTIME TIMESTAMP,
    RESULT VARCHAR(20) NOT NULL,
    ERRORTEXT VARCHAR(2000)
);
CREATE INDEX IX_IMPORTJOURNAL_SHA256 ON IMPORTJOURNAL (PKGSHA256);
CREATE INDEX IX_IMPORTJOURNAL_STARTTIME ON IMPORTJOURNAL (STARTTIME);

-- What one import run did to each table, in import order.
CREATE TABLE IMPORTJOURNALTABLE (
    RUNGID INTEGER NOT NULL,
    STEPNO INTEGER NOT NULL,
    TABLENAME VARCHAR(40) NOT NULL,
    NEWROWS INTEGER NOT NULL,
    EDITEDROWS INTEGER NOT NULL,
    NEWMAPPINGS INTEGER NOT NULL,
    REGISTRATIONS INTEGER NOT NULL,
    CONSTRAINT PK_IMPORTJOURNALTABLE PRIMARY KEY (RUNGID, STEPNO)
);
