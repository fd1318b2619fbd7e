// UTF-8 <-> UTF-16 through MultiByteToWideChar and WideCharToMultiByte, and the system's
// error texts through FormatMessageW.
#include "platform/utf16_win32.h"

#include <windows.h>

#include <climits>

namespace reelfix::platform {

std::wstring to_utf16(std::string_view text) {
  if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) return std::wstring();
  const int in = static_cast<int>(text.size());
  const int needed = MultiByteToWideChar(CP_UTF8, 0, text.data(), in, nullptr, 0);
  if (needed <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), in, wide.data(), needed);
  return wide;
}

std::string to_utf8(std::wstring_view text) {
  if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) return std::string();
  const int in = static_cast<int>(text.size());
  const int needed = WideCharToMultiByte(CP_UTF8, 0, text.data(), in, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return std::string();
  std::string narrow(static_cast<std::size_t>(needed), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), in, narrow.data(), needed, nullptr, nullptr);
  return narrow;
}

std::string system_message(unsigned long error) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text;
  if (length > 0 && buffer != nullptr) text.assign(buffer, length);
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
    text.pop_back();
  }
  if (text.empty()) return "system error " + std::to_string(error);
  return to_utf8(text);
}

}  // namespace reelfix::platform
