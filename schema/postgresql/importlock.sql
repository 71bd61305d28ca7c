-- Who holds the import lock (the server's advisory lock of the import): a row of the session
-- that holds it (BACKENDPID), describing the user, machine, process, program, start and package
-- as text lines. A row whose session holds no lock describes nobody and is replaced by the next
-- holder. A part of the central schema added after the export journal, on a server only (beside
-- an SQLite file the lock file itself holds the description).
CREATE TABLE IMPORTLOCK (
    LOCKKEY BIGINT NOT NULL,
    BACKENDPID INTEGER NOT NULL,
    HOLDER TEXT,
    CONSTRAINT PK_IMPORTLOCK PRIMARY KEY (LOCKKEY)
);
