-- Version 5.0: the first version of the application's data.
CREATE TABLE dbo.customer (
  id   integer NOT NULL PRIMARY KEY,
  name varchar(100) NOT NULL
)
GO
INSERT INTO dbo.customer (id, name) VALUES (1, 'Novak Trading'), (2, 'Kral Logistics'), (3, 'Svoboda Foods')
GO
INSERT INTO dbo.a194u0 (ic, u) VALUES (401, 0)
GO
