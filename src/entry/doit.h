// One run of the plug-in, as the exported DoIt performs it, in portable form: the Windows export
// converts the host's ANSI arguments to UTF-8, calls this, and hands the result back as a BSTR.
#pragma once

#include <string>

#include "platform/edition.h"
#include "platform/platform.h"

namespace finprep {

// Shows the preprocessing dialog modally over `host_window` and returns, as UTF-8, the
// connection string for VORIRA when every step succeeded, or "0".  Null arguments count as empty
// text.  The application's owner window is the host window for the duration of the call and is
// restored on every way out.  No exception leaves this function: whatever escapes is reported
// (host log, or a message box in the local-server edition) and the result is "0".
std::string DoItRun(Platform& platform, Edition edition, WindowHandle host_window,
                    const char* base_folder, const char* backup_file, const char* table_suffix);

}  // namespace finprep
