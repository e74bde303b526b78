-- Quillspeak tables. Every column is text; the key columns are the primary keys.
-- Safe to run again: existing tables and rows are kept.
CREATE TABLE IF NOT EXISTS userinfo (
    username TEXT NOT NULL PRIMARY KEY,
    password TEXT,
    nickname TEXT,
    contacts TEXT,
    email TEXT,
    tel TEXT,
    details TEXT,
    country TEXT,
    province TEXT,
    city TEXT,
    facepath TEXT,
    question TEXT,
    answer TEXT
);

CREATE TABLE IF NOT EXISTS groupinfo (
    groupname TEXT NOT NULL PRIMARY KEY,
    members TEXT,
    masters TEXT,
    details TEXT,
    facepath TEXT
);

CREATE TABLE IF NOT EXISTS msgpool (
    username TEXT NOT NULL PRIMARY KEY,
    messages TEXT,
    groupmessages TEXT,
    custommessages TEXT
);

-- Readers never wait for the writer; writers queue on the busy timeout.
PRAGMA journal_mode = WAL;
