-- Version 5.2: customers get an e-mail address.
ALTER TABLE dbo.customer ADD email varchar(200)
GO
UPDATE dbo.customer SET email = lower(replace(name, ' ', '.')) || '@example.com'
GO
