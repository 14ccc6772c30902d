#include "cli/Json.h"

#include <cmath>
#include <cstdio>

namespace cli {

CJson CJson::MakeObject() {
  CJson json;
  json.m_Value = Object{};
  return json;
}

CJson CJson::MakeArray() {
  CJson json;
  json.m_Value = Array{};
  return json;
}

CJson& CJson::Set(const std::string& key, CJson value) {
  if (!std::holds_alternative<Object>(m_Value)) {
    m_Value = Object{};
  }
  auto& object = std::get<Object>(m_Value);
  for (auto& [name, existing] : object) {
    if (name == key) {
      existing = std::move(value);
      return *this;
    }
  }
  object.emplace_back(key, std::move(value));
  return *this;
}

CJson& CJson::Push(CJson value) {
  if (!std::holds_alternative<Array>(m_Value)) {
    m_Value = Array{};
  }
  std::get<Array>(m_Value).push_back(std::move(value));
  return *this;
}

std::string JsonQuote(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
          out += escaped;
        } else {
          out += c;  // UTF-8 passes through as it is
        }
    }
  }
  out += '"';
  return out;
}

std::string CJson::Dump(int indent) const {
  std::string out;
  DumpTo(out, indent, 0);
  return out;
}

void CJson::DumpTo(std::string& out, int indent, int depth) const {
  const auto newline = [&](int level) {
    if (indent >= 0) {
      out += '\n';
      out.append(static_cast<std::size_t>(indent * level), ' ');
    }
  };
  if (std::holds_alternative<std::nullptr_t>(m_Value)) {
    out += "null";
  } else if (const bool* flag = std::get_if<bool>(&m_Value)) {
    out += *flag ? "true" : "false";
  } else if (const std::int64_t* integer = std::get_if<std::int64_t>(&m_Value)) {
    out += std::to_string(*integer);
  } else if (const double* real = std::get_if<double>(&m_Value)) {
    if (!std::isfinite(*real)) {
      out += "null";
    } else {
      char text[32];
      std::snprintf(text, sizeof text, "%.3f", *real);
      out += text;
    }
  } else if (const std::string* text = std::get_if<std::string>(&m_Value)) {
    out += JsonQuote(*text);
  } else if (const Array* array = std::get_if<Array>(&m_Value)) {
    if (array->empty()) {
      out += "[]";
      return;
    }
    out += '[';
    for (std::size_t i = 0; i < array->size(); ++i) {
      if (i > 0) {
        out += ',';
      }
      newline(depth + 1);
      (*array)[i].DumpTo(out, indent, depth + 1);
    }
    newline(depth);
    out += ']';
  } else if (const Object* object = std::get_if<Object>(&m_Value)) {
    if (object->empty()) {
      out += "{}";
      return;
    }
    out += '{';
    for (std::size_t i = 0; i < object->size(); ++i) {
      if (i > 0) {
        out += ',';
      }
      newline(depth + 1);
      out += JsonQuote((*object)[i].first);
      out += indent >= 0 ? ": " : ":";
      (*object)[i].second.DumpTo(out, indent, depth + 1);
    }
    newline(depth);
    out += '}';
  }
}

}  // namespace cli
