// UTF-8 and Windows' UTF-16, converted without the ANSI code page. Windows only.
#pragma once

#include <string>
#include <string_view>

namespace base {

// Lossless for every text Windows produces; an unpaired surrogate or invalid UTF-8
// becomes U+FFFD.
[[nodiscard]] std::wstring WideFromUtf8(std::string_view text);
[[nodiscard]] std::string Utf8FromWide(std::wstring_view text);

}  // namespace base
