// The host's log as each edition binds it.
#pragma once

#include <memory>

#include "platform/system.h"
#include "platform/win32/windows_api.h"

namespace finprep {

// Host-instance edition: WriteLog of hostcore.dll, called with the plug-in's module instance.
// Local-server edition: a log that is never written (that edition reports in message boxes).
std::unique_ptr<HostLog> MakeEditionHostLog(HINSTANCE module_instance);

}  // namespace finprep
