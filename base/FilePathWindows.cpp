#include <windows.h>

#include "base/FilePath.h"
#include "base/WideText.h"

namespace base {

std::wstring WideFromUtf8(std::string_view text) {
  if (text.empty()) {
    return {};
  }
  const int size = static_cast<int>(text.size());
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
  return wide;
}

std::string Utf8FromWide(std::wstring_view text) {
  if (text.empty()) {
    return {};
  }
  const int size = static_cast<int>(text.size());
  const int length =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), length, nullptr, nullptr);
  return utf8;
}

std::filesystem::path PathFromUtf8(std::string_view utf8) {
  // From the wide string: the path's own native form, taken without conversion.
  return std::filesystem::path(WideFromUtf8(utf8));
}

std::string Utf8FromPath(const std::filesystem::path& path) {
  return Utf8FromWide(path.native());
}

std::FILE* OpenFile(const std::string& utf8Path, const char* mode) {
  return ::_wfopen(WideFromUtf8(utf8Path).c_str(), WideFromUtf8(mode).c_str());
}

}  // namespace base
