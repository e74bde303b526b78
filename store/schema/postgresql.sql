-- Quillspeak tables. The key columns are the primary keys; every column of the first
-- three is text.
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

-- The cluster mode (cluster_url): the nodes sharing this database, each live while its
-- lease runs, and which node holds each logged-in user's session.
CREATE TABLE IF NOT EXISTS nodes (
    name TEXT NOT NULL PRIMARY KEY,
    lease_until TIMESTAMPTZ NOT NULL,
    started TIMESTAMPTZ NOT NULL
);

CREATE TABLE IF NOT EXISTS sessions (
    username TEXT NOT NULL PRIMARY KEY,
    node TEXT NOT NULL REFERENCES nodes (name) ON DELETE CASCADE,
    since TIMESTAMPTZ NOT NULL,
    status TEXT NOT NULL DEFAULT ''
);
-- Databases whose sessions table came before the status column.
ALTER TABLE sessions ADD COLUMN IF NOT EXISTS status TEXT NOT NULL DEFAULT '';
