// Paths that statements name (backup devices, database files) and the files they stand for.
#pragma once

#include <string>

namespace finprep::emu {

// The file-system path of a path written in a statement.  Every path a statement names goes
// through here and only here: the place where a client's path convention meets this machine's
// file system.
//
// A Windows path with a drive letter ("Z:\tmp\run\xy.temp", either slash) stands for a file
// under the folder its drive is mapped to, with its backslashes turned into slashes: Z: is the
// root folder (as under Wine), other letters are mapped by MapDrive.  Any other path, and a
// path on a drive that is not mapped, is taken as it is (so a drive that is not mapped names no
// file that exists here).
std::string ToFileSystemPath(const std::string& statement_path);

// Maps a drive letter (either case) to a folder; an empty folder removes the mapping.  Set the
// mappings before the server starts serving.
void MapDrive(char letter, const std::string& folder);

}  // namespace finprep::emu
