DROP TABLE IF EXISTS dbo.external_db
GO
