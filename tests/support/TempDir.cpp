#include "tests/support/TempDir.h"

#include <atomic>
#include <fstream>
#include <random>

#include "base/FilePath.h"

namespace testing_support {

CTempDir::CTempDir() {
  std::random_device random;
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    m_Path = base / ("update-test-" + std::to_string(random()));
    if (std::filesystem::create_directory(m_Path)) {
      break;
    }
  }
}

CTempDir::~CTempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_Path, ignored);
}

std::string CTempDir::WriteFile(const std::string& name,
                                const std::vector<std::uint8_t>& bytes) const {
  // The name is UTF-8, as every path the programs take: Chinese and accented names too.
  const auto path = m_Path / base::PathFromUtf8(name);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return base::Utf8FromPath(path);
}

}  // namespace testing_support
