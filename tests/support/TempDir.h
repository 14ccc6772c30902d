// A directory of its own for each test, removed with everything in it afterwards.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

class CTempDir {
 public:
  CTempDir();
  ~CTempDir();
  CTempDir(const CTempDir&) = delete;
  CTempDir& operator=(const CTempDir&) = delete;

  const std::filesystem::path& Path() const { return m_Path; }

  // Writes a file in the directory and returns its full path.
  std::string WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) const;

 private:
  std::filesystem::path m_Path;
};

}  // namespace testing_support
