#include "platform/portable/in_process_libraries.h"

#include <utility>

namespace finprep::portable {

class InProcessLibraryLoader::InProcessLibrary : public Library {
 public:
  InProcessLibrary(InProcessLibraryLoader& loader, std::string path)
      : loader_(loader), alive_(loader.alive_), path_(std::move(path)) {}
  ~InProcessLibrary() override {
    if (*alive_) ++loader_.releases_;
  }

  bool CallStringExport(const std::string& name, std::string* value) override {
    auto library = loader_.libraries_.find(path_);
    if (library == loader_.libraries_.end()) return false;
    auto function = library->second.find(name);
    if (function == library->second.end() || !function->second) return false;
    loader_.calls_.push_back(path_ + "!" + name);
    *value = function->second();
    return true;
  }

 private:
  InProcessLibraryLoader& loader_;
  std::shared_ptr<bool> alive_;
  std::string path_;
};

InProcessLibraryLoader::~InProcessLibraryLoader() { *alive_ = false; }

void InProcessLibraryLoader::Register(const std::string& path,
                                      std::map<std::string, StringExport> exports) {
  libraries_[path] = std::move(exports);
}

void InProcessLibraryLoader::Unregister(const std::string& path) { libraries_.erase(path); }

InProcessLibraryLoader::StringExport InProcessLibraryLoader::Returning(std::string value) {
  return [value = std::move(value)] { return value; };
}

std::unique_ptr<Library> InProcessLibraryLoader::Load(const std::string& path) {
  calls_.push_back(path);
  if (libraries_.find(path) == libraries_.end()) return nullptr;
  ++loads_;
  return std::make_unique<InProcessLibrary>(*this, path);
}

}  // namespace finprep::portable
