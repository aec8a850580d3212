#include "platform/reasons.h"

#include <windows.h>

#include "platform/wide_paths.h"

namespace wldmap {
namespace platform {

std::string withReason(const std::string& what) {
  return what + ": " + reasonText(static_cast<int>(GetLastError()));
}

std::string reasonText(int code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = length ? narrow(text, length) : "error " + std::to_string(code);
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message;
}

}  // namespace platform
}  // namespace wldmap
