// WriteLog of the host library, bound by the system loader through the import table.
#include "entry/host_log.h"

#include <oleauto.h>

#include "platform/win32/win32_text.h"

extern "C" __declspec(dllimport) void __stdcall WriteLog(HINSTANCE instance, int level,
                                                         BSTR message);

namespace finprep {

namespace {

class HostcoreLog : public HostLog {
 public:
  explicit HostcoreLog(HINSTANCE instance) : instance_(instance) {}

  // The message goes over as a BSTR that the caller frees; WriteLog neither frees nor keeps it.
  void WriteLog(int level, const std::string& message) override {
    const std::wstring text = win32::Widen(message);
    const BSTR bstr = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    ::WriteLog(instance_, level, bstr);
    SysFreeString(bstr);
  }

 private:
  HINSTANCE instance_;
};

}  // namespace

std::unique_ptr<HostLog> MakeEditionHostLog(HINSTANCE module_instance) {
  return std::make_unique<HostcoreLog>(module_instance);
}

}  // namespace finprep
