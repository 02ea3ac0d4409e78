#include "json_writer.h"

#include <cstdio>

#include "common/text.h"

namespace uia {

void JsonWriter::BeforeValue() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (!has_items_.empty()) {
    if (has_items_.back()) out_ += ',';
    has_items_.back() = true;
  }
}

JsonWriter& JsonWriter::BeginObject() {
  BeforeValue();
  out_ += '{';
  has_items_.push_back(false);
  return *this;
}

JsonWriter& JsonWriter::EndObject() {
  out_ += '}';
  has_items_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::BeginArray() {
  BeforeValue();
  out_ += '[';
  has_items_.push_back(false);
  return *this;
}

JsonWriter& JsonWriter::EndArray() {
  out_ += ']';
  has_items_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::Key(std::string_view key) {
  BeforeValue();
  AppendEscaped(key);
  out_ += ':';
  after_key_ = true;
  return *this;
}

JsonWriter& JsonWriter::Value(std::wstring_view text) { return Value(std::string_view(kelvora::ToUtf8(text))); }

JsonWriter& JsonWriter::Value(std::string_view text) {
  BeforeValue();
  AppendEscaped(text);
  return *this;
}

JsonWriter& JsonWriter::Value(std::int64_t number) {
  BeforeValue();
  out_ += std::to_string(number);
  return *this;
}

JsonWriter& JsonWriter::Value(bool flag) {
  BeforeValue();
  out_ += flag ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::Null() {
  BeforeValue();
  out_ += "null";
  return *this;
}

void JsonWriter::AppendEscaped(std::string_view utf8) {
  out_ += '"';
  for (char c : utf8) {
    switch (c) {
      case '"': out_ += "\\\""; break;
      case '\\': out_ += "\\\\"; break;
      case '\n': out_ += "\\n"; break;
      case '\r': out_ += "\\r"; break;
      case '\t': out_ += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
          out_ += buffer;
        } else {
          out_ += c;
        }
    }
  }
  out_ += '"';
}

}  // namespace uia
