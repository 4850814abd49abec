-- Version 5.3: invoices for orders, and a view of what each customer owes.
CREATE TABLE dbo.invoice (
  id       integer NOT NULL PRIMARY KEY,
  order_id integer NOT NULL REFERENCES dbo.orders (id),
  issued   date NOT NULL
)
GO
INSERT INTO dbo.invoice (id, order_id, issued) VALUES (100, 10, DATE '2026-01-15'), (101, 12, DATE '2026-02-01')
GO
CREATE VIEW dbo.customer_balance AS
  SELECT c.id, c.name, COALESCE(SUM(o.amount), 0) AS ordered
  FROM dbo.customer c LEFT JOIN dbo.orders o ON o.customer_id = c.id
  GROUP BY c.id, c.name
GO
