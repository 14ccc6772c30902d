// A small JSON value for the documents update-cli prints with --json and the lines of
// its trace file. Objects keep their keys in the order they were set, so that output
// reads the same every time and tests can compare it as text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace cli {

class CJson {
 public:
  using Array = std::vector<CJson>;
  using Object = std::vector<std::pair<std::string, CJson>>;

  CJson() = default;  // null
  CJson(std::nullptr_t) {}
  CJson(bool value) : m_Value(value) {}
  CJson(int value) : m_Value(static_cast<std::int64_t>(value)) {}
  CJson(std::int64_t value) : m_Value(value) {}
  CJson(std::uint32_t value) : m_Value(static_cast<std::int64_t>(value)) {}
  CJson(std::uint64_t value) : m_Value(static_cast<std::int64_t>(value)) {}
  CJson(double value) : m_Value(value) {}
  CJson(std::string value) : m_Value(std::move(value)) {}
  CJson(const char* value) : m_Value(std::string(value)) {}

  static CJson MakeObject();
  static CJson MakeArray();

  // Sets a key of an object (replacing an earlier value) and returns the object.
  CJson& Set(const std::string& key, CJson value);
  // Appends to an array and returns the array.
  CJson& Push(CJson value);

  bool IsNull() const { return std::holds_alternative<std::nullptr_t>(m_Value); }

  // Compact with indent < 0, else pretty with that many spaces per level.
  std::string Dump(int indent = -1) const;

 private:
  void DumpTo(std::string& out, int indent, int depth) const;

  std::variant<std::nullptr_t, bool, std::int64_t, double, std::string, Array, Object> m_Value;
};

// The text as a JSON string literal, quotes included.
std::string JsonQuote(std::string_view text);

}  // namespace cli
