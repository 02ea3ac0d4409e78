#pragma once
// A small streaming JSON writer: the helper's only output format, read by the
// Python bench. Text is written as UTF-8.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace uia {

class JsonWriter {
 public:
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  JsonWriter& Key(std::string_view key);

  JsonWriter& Value(std::wstring_view text);
  JsonWriter& Value(std::string_view text);
  JsonWriter& Value(const wchar_t* text) { return Value(std::wstring_view(text ? text : L"")); }
  JsonWriter& Value(const char* text) { return Value(std::string_view(text ? text : "")); }
  JsonWriter& Value(std::int64_t number);
  JsonWriter& Value(int number) { return Value(static_cast<std::int64_t>(number)); }
  JsonWriter& Value(long number) { return Value(static_cast<std::int64_t>(number)); }
  JsonWriter& Value(unsigned long number) { return Value(static_cast<std::int64_t>(number)); }
  JsonWriter& Value(unsigned int number) { return Value(static_cast<std::int64_t>(number)); }
  JsonWriter& Value(bool flag);
  JsonWriter& Null();

  template <typename T>
  JsonWriter& Field(std::string_view key, const T& value) {
    Key(key);
    return Value(value);
  }

  const std::string& str() const { return out_; }

 private:
  void BeforeValue();
  void AppendEscaped(std::string_view utf8);

  std::string out_;
  std::vector<bool> has_items_;  // one entry per open object or array
  bool after_key_ = false;
};

}  // namespace uia
