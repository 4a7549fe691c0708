#include "entry/doit.h"

#include <exception>

#include "DealWithBackup/DealWithBackup.h"
#include "DealWithBackup/Statements.h"

namespace finprep {

namespace {

// Gives the application its earlier owner window back however the run ends.
class OwnerWindowScope {
 public:
  OwnerWindowScope(Application& application, WindowHandle window)
      : application_(application), saved_(application.OwnerWindow()) {
    application_.SetOwnerWindow(window);
  }
  ~OwnerWindowScope() { application_.SetOwnerWindow(saved_); }
  OwnerWindowScope(const OwnerWindowScope&) = delete;
  OwnerWindowScope& operator=(const OwnerWindowScope&) = delete;

 private:
  Application& application_;
  WindowHandle saved_;
};

std::string Text(const char* value) { return value ? std::string(value) : std::string(); }

// Reports while the host window still owns the plug-in's windows; a report that fails itself is
// dropped, for nothing may reach the host.
void ReportEscaped(Platform& platform, Edition edition, const std::string& message) {
  try {
    ReportRunException(platform, edition, message);
  } catch (...) {
  }
}

}  // namespace

std::string DoItRun(Platform& platform, Edition edition, WindowHandle host_window,
                    const char* base_folder, const char* backup_file, const char* table_suffix) {
  std::string result = "0";
  OwnerWindowScope owner(platform.application, host_window);
  try {
    TForm_DealWithBackup dialog(platform, edition);
    dialog.StoreArguments(Text(backup_file),
                          Text(base_folder) + "TempLateTemp" + platform.files.Separator(),
                          Text(table_suffix));
    if (dialog.ShowModal() == kModalOK) {
      result = edition == Edition::HostInstance ? VoriraConnectionString(SqlConnectionString)
                                                : std::string(kLocalResultConnectionString);
    }
  } catch (const std::exception& error) {
    result = "0";
    ReportEscaped(platform, edition, error.what());
  } catch (...) {
    result = "0";
    ReportEscaped(platform, edition, "");
  }
  return result;
}

}  // namespace finprep
