// Paths that statements name (backup devices, database files) and the files they stand for.
#pragma once

#include <string>

namespace finprep::emu {

// The file-system path of a path written in a statement.  Every path a statement names goes
// through here and only here: the place where a client's path convention (a Windows drive
// letter, say) meets this machine's file system.  Today paths are taken as they are.
std::string ToFileSystemPath(const std::string& statement_path);

}  // namespace finprep::emu
