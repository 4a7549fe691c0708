#include "emu/paths.h"

namespace finprep::emu {

std::string ToFileSystemPath(const std::string& statement_path) { return statement_path; }

}  // namespace finprep::emu
