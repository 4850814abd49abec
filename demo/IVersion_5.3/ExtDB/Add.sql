-- External-database support: where the external database $(Name) lives.
CREATE TABLE dbo.external_db (name varchar(100) NOT NULL, directory varchar(400) NOT NULL)
GO
INSERT INTO dbo.external_db (name, directory) VALUES ('$(Name)', '$(Dir)')
GO
