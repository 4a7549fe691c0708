-- Marks the set: one account of its own.
INSERT INTO t_Account (AccID, AccCode, AccName, AccLevel) VALUES (7, '9991', '账套2021', 1)
GO
