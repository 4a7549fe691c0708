-- Marks the set: one account of its own.
INSERT INTO t_Account (AccID, AccCode, AccName, AccLevel) VALUES (7, '9993', '账套2023', 1)
GO
