// Tokenizer and recursive-descent parser for the T-SQL subset the emulator runs.
#pragma once

#include <string>
#include <vector>

#include "emu/ast.h"

namespace finprep::emu {

// Parses a batch of statements (separated by blanks or semicolons).  Throws ServerError with
// SQL Server's syntax messages (102, 156) or a clear message for statements the emulator does
// not run.
std::vector<Statement> ParseBatch(const std::string& text);

// Splits a script into batches at lines that hold only GO (any case, blanks around it).
std::vector<std::string> SplitBatches(const std::string& script);

}  // namespace finprep::emu
