DROP TABLE IF EXISTS dbo.orders_archive
GO
