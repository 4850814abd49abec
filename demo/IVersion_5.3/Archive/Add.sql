-- Archive support: old orders are kept in a table of their own; $(Dir) is
-- the archive directory the administrator chose.
CREATE TABLE dbo.orders_archive (LIKE dbo.orders)
GO
COMMENT ON TABLE dbo.orders_archive IS 'archived to $(Dir)'
GO
