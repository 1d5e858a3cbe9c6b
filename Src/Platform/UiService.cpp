#include "UiService.h"

#include <atomic>
#include <cstdio>

namespace {

// Used when no program installed a service: a message box goes to standard
// error and is answered with its first button; choosers are cancelled.
class PlainService : public IUserInterfaceService {
 public:
  int MessageBox(HWND, const std::string& text, const std::string& caption, UINT type) override {
    std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
    switch (type & MB_TYPEMASK) {
      case MB_YESNO:
      case MB_YESNOCANCEL:
        return IDYES;
      case MB_RETRYCANCEL:
        return IDRETRY;
      default:
        return IDOK;
    }
  }
  FileChooserResult ChooseFile(HWND, const FileChooserRequest&) override { return {}; }
  std::string ChooseFolder(HWND, const std::string&, const std::string&) override { return {}; }
};

PlainService g_plain;
std::atomic<IUserInterfaceService*> g_service{nullptr};

}  // namespace

IUserInterfaceService* GetUserInterfaceService() {
  IUserInterfaceService* s = g_service.load();
  return s ? s : &g_plain;
}

IUserInterfaceService* SetUserInterfaceService(IUserInterfaceService* service) {
  IUserInterfaceService* previous = g_service.exchange(service);
  return previous ? previous : &g_plain;
}

bool IsUserInterfaceServiceInstalled() { return g_service.load() != nullptr; }
