-- Every row is one integrity error: invoices whose order lost its customer.
SELECT 'invoice ' || i.id || ' has no customer'
FROM dbo.invoice i JOIN dbo.orders o ON o.id = i.order_id
LEFT JOIN dbo.customer c ON c.id = o.customer_id
WHERE c.id IS NULL
