-- Version 5.1: orders of customers.
CREATE TABLE dbo.orders (
  id          integer NOT NULL PRIMARY KEY,
  customer_id integer NOT NULL REFERENCES dbo.customer (id),
  amount      numeric(12, 2) NOT NULL
)
GO
INSERT INTO dbo.orders (id, customer_id, amount) VALUES (10, 1, 1250.00), (11, 1, 80.50), (12, 3, 310.00)
GO
