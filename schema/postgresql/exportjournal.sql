-- Export journal: one row per export to a workstation, written on a connection of its own in
-- short transactions of its own (RESULT is "не завершён" until the run writes its end). With it,
-- the indexes by which the state of workstations reads both journals: the runs of a workstation
-- by start (holding what the state reads of them, so the rows themselves are not visited), and
-- its successful runs by the time they ended. A part of the central schema
-- added after the import journal: a new database gets it with the rest, one made before gets it
-- from UpgradeSchema.
CREATE TABLE EXPORTJOURNAL (
    RUNGID INTEGER NOT NULL,
    WSTGID INTEGER NOT NULL,
    PKGNAME VARCHAR(255),
    PKGSIZE BIGINT,
    PKGLABEL VARCHAR(255),
    CENTRALUSER VARCHAR(64),
    OSUSER VARCHAR(64),
    STARTTIME TIMESTAMP NOT NULL,
    ENDTIME TIMESTAMP,
    RESULT VARCHAR(20) NOT NULL,
    ERRORTEXT VARCHAR(2000),
    CONSTRAINT PK_EXPORTJOURNAL PRIMARY KEY (RUNGID)
);
CREATE INDEX IX_EXPORTJOURNAL_WST ON EXPORTJOURNAL (WSTGID, STARTTIME);
CREATE SEQUENCE EXPORTJOURNAL_RUNGID_SEQ;
CREATE TRIGGER TRG_EXPORTJOURNAL_RUNGID BEFORE INSERT ON EXPORTJOURNAL
    FOR EACH ROW EXECUTE FUNCTION ZORU_ASSIGN_GID('RUNGID', 'EXPORTJOURNAL_RUNGID_SEQ');
CREATE INDEX IF NOT EXISTS IX_IMPORTJOURNAL_WST ON IMPORTJOURNAL (WSTGID, STARTTIME, RESULT, RUNGID);
CREATE INDEX IF NOT EXISTS IX_IMPORTJOURNAL_WSTRESULT ON IMPORTJOURNAL (WSTGID, RESULT, ENDTIME);
