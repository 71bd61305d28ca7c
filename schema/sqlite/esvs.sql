-- Reference database ЕСВС: the tables and columns that the synchronisation reads.
-- OFFICE, RSECNAME and OMS are yes/no flags; K_ADMN is a fixed-length code.

-- Address objects. K_ADMN is the administrative (OKATO) code, fixed 13 characters;
-- one code may stand on several rows, told apart by RAZDEL.
-- The key is declared INT, not INTEGER: an INTEGER key would be the rowid and fill itself in
-- when given NULL, whereas this one must come from the DOCUMENT row.
CREATE TABLE ADRES (
    IDADRES INT NOT NULL,
    ADRES VARCHAR(255),
    K_ADMN CHAR(13),
    RAZDEL INTEGER,
    CONSTRAINT PK_ADRES PRIMARY KEY (IDADRES)
);

-- Hospital types.
-- The key is declared INT, not INTEGER: an INTEGER key would be the rowid and fill itself in
-- when given NULL, whereas this one must come from the DOCUMENT row.
CREATE TABLE TMU (
    IDTMU INT NOT NULL,
    TMU VARCHAR(255),
    CODTMU VARCHAR(20),
    BGDATE TIMESTAMP,
    BGREASON VARCHAR(255),
    CLDATE TIMESTAMP,
    CLREASON VARCHAR(255),
    CRDATE TIMESTAMP,
    CONSTRAINT PK_TMU PRIMARY KEY (IDTMU)
);

-- Hospitals; IDADRES refers to ADRES.
-- The key is declared INT, not INTEGER: an INTEGER key would be the rowid and fill itself in
-- when given NULL, whereas this one must come from the DOCUMENT row.
CREATE TABLE MU (
    IDMU INT NOT NULL,
    MU VARCHAR(255),
    MUFL VARCHAR(500),
    CODMU VARCHAR(20),
    IDTMU INTEGER,
    OFFICE BOOLEAN,
    SURNAMER VARCHAR(100),
    NAME_R VARCHAR(100),
    SECNAMER VARCHAR(100),
    RSECNAME BOOLEAN,
    IDPOST INTEGER,
    PHONE_R VARCHAR(50),
    EMAIL VARCHAR(100),
    EMSIZE INTEGER,
    IDADRES INTEGER,
    OMS BOOLEAN,
    BGDATE TIMESTAMP,
    BGREASON VARCHAR(255),
    CLDATE TIMESTAMP,
    CLREASON VARCHAR(255),
    CRDATE TIMESTAMP,
    CONSTRAINT PK_MU PRIMARY KEY (IDMU)
);
