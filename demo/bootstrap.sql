-- What the application's installer leaves in a new, empty database before
-- its first version is laid in: the schema, the version stamp table (no row
-- yet) and the language table.
CREATE SCHEMA dbo;
CREATE TABLE dbo.a15830u10 (
  a277u0  varchar(50),   -- version, plain text
  a212u0  bytea,         -- version and kind, enciphered
  a2439u0 integer,       -- 1: archive support installed
  a2583u0 integer        -- 1: external-database support installed
);
CREATE TABLE dbo.a194u0 (ic bigint NOT NULL, u integer NOT NULL);
