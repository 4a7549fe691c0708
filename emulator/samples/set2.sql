-- Marks the set: one account of its own.
INSERT INTO t_Account (AccID, AccCode, AccName, AccLevel) VALUES (7, '9992', '账套2022', 1)
GO
