// Helpers shared by the fuzz targets: reading an input as fields, a scratch file for
// code that only reads files, and a user interface that answers every question yes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>

#include <unistd.h>

#include "update/UserInterface.h"

namespace fuzzing {

// Stops the process the way a sanitizer does, so libFuzzer keeps the input that broke
// a property: `what` names the property.
[[noreturn]] inline void Violated(const char* what) {
  std::fprintf(stderr, "fuzz property violated: %s\n", what);
  std::abort();
}

inline void Expect(bool holds, const char* what) {
  if (!holds) {
    Violated(what);
  }
}

// The input as a sequence of fields taken from the front. Past the end every field
// reads as zero, so that any input is a complete script.
class CFuzzInput {
 public:
  CFuzzInput(const std::uint8_t* data, std::size_t size) : m_Data(data), m_Size(size) {}

  bool Empty() const { return m_At >= m_Size; }
  std::size_t Left() const { return m_Size - m_At; }

  std::uint8_t Byte() { return m_At < m_Size ? m_Data[m_At++] : 0; }
  std::uint16_t U16() {
    const std::uint16_t low = Byte();
    return static_cast<std::uint16_t>(low | (Byte() << 8));
  }
  std::uint32_t U32() {
    const std::uint32_t low = U16();
    return low | (static_cast<std::uint32_t>(U16()) << 16);
  }
  // Up to count bytes; fewer where the input ends.
  std::span<const std::uint8_t> Bytes(std::size_t count) {
    const std::size_t taken = count < Left() ? count : Left();
    const std::span<const std::uint8_t> bytes(m_Data + m_At, taken);
    m_At += taken;
    return bytes;
  }

 private:
  const std::uint8_t* m_Data;
  std::size_t m_Size;
  std::size_t m_At = 0;
};

// One file per fuzzing process, rewritten for each input and removed at exit.
class CScratchFile {
 public:
  CScratchFile() {
    const char* dir = std::getenv("TMPDIR");
    m_Path = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/update-fuzz-" +
             std::to_string(static_cast<long>(::getpid())) + ".dat";
  }
  ~CScratchFile() { std::remove(m_Path.c_str()); }
  CScratchFile(const CScratchFile&) = delete;
  CScratchFile& operator=(const CScratchFile&) = delete;

  const std::string& Path() const { return m_Path; }

  void Write(std::span<const std::uint8_t> bytes) const {
    std::FILE* file = std::fopen(m_Path.c_str(), "wb");
    Expect(file != nullptr &&
               (bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size()),
           "the scratch file can be written");
    std::fclose(file);
  }

 private:
  std::string m_Path;
};

// Chooses the given file in every file dialog and answers every box with OK.
class CAgreeingUi : public update::IUserInterface {
 public:
  explicit CAgreeingUi(std::string path) : m_Path(std::move(path)) {}

  update::MessageResult ShowMessageBox(const std::string&, const std::string&,
                                       update::MessageButtons) override {
    return update::MessageResult::kOk;
  }
  void SetProgress(std::int32_t position) override {
    Expect(position >= 0 && position <= 100, "the progress stays within 0..100");
  }
  void EnableUpdateButton(bool) override {}
  void ShowCompletionLabel(bool) override {}
  void SetWindowTitle(const std::string&) override {}
  std::optional<std::string> ShowOpenFileDialog(const update::OpenFileRequest&) override {
    return m_Path;
  }

 private:
  std::string m_Path;
};

}  // namespace fuzzing
