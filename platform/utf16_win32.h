// Windows speaks UTF-16; the rest of the program speaks UTF-8. These convert at the border,
// at every system call that takes or gives text.
#pragma once

#include <string>
#include <string_view>

namespace reelfix::platform {

// UTF-8 to UTF-16. Bytes that are no UTF-8 become U+FFFD.
std::wstring to_utf16(std::string_view text);

// UTF-16 to UTF-8. A lone surrogate becomes U+FFFD.
std::string to_utf8(std::wstring_view text);

// The system's words for an error code (GetLastError()), in UTF-8, without the line end
// that Windows puts behind them.
std::string system_message(unsigned long error);

}  // namespace reelfix::platform
