#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orgkat {

class JsonDocument;

// One value of a parsed document. Values are owned by their JsonDocument and live as long as it.
class JsonValue {
 public:
  enum class Kind { Null, Boolean, Integer, Decimal, Double, String, Array, Object };

  Kind kind() const { return kind_; }
  bool IsObject() const { return kind_ == Kind::Object; }
  bool IsArray() const { return kind_ == Kind::Array; }

  bool Boolean() const { return integer_ != 0; }
  // Integer: the value; Decimal: the value times 10^4 (exact to four decimal places).
  std::int64_t Integer() const { return integer_; }
  double Double() const { return double_; }
  // String: its characters, escapes resolved.
  const std::string& String() const { return string_; }

  // The member of that exact name (the later one when the name repeats); nullptr when absent or
  // when this value is not an object.
  const JsonValue* Member(std::string_view name) const;
  // Array length; 0 for anything that is not an array.
  std::size_t Size() const { return kind_ == Kind::Array ? items_.size() : 0; }
  // Array element; nullptr when out of range or not an array.
  const JsonValue* Element(std::size_t index) const;

  // The value as text: a string's characters, numbers in their canonical form, "true", "false",
  // "null", and objects and arrays as compact JSON in which only ", \, / and NUL are escaped.
  std::string Text() const;

 private:
  friend class JsonDocument;
  friend class JsonBuilder;

  Kind kind_ = Kind::Null;
  std::int64_t integer_ = 0;
  double double_ = 0;
  std::string string_;
  // The name under which this value is a member of an object.
  std::string name_;
  // Elements of an array, or the member values of an object.
  std::vector<const JsonValue*> items_;
};

// A parsed document. Every value sits in one flat store, so neither destruction nor text
// conversion recurses, however deep the nesting.
class JsonDocument {
 public:
  // nullptr when the text is not one well-formed JSON value.
  static std::unique_ptr<JsonDocument> Parse(std::string_view text);

  const JsonValue& Root() const { return chunks_.front()[0]; }

 private:
  friend class JsonBuilder;

  // A new value whose address stays valid while more are added.
  JsonValue& NewValue();

  std::vector<std::unique_ptr<JsonValue[]>> chunks_;
  std::size_t chunkSize_ = 0;
  std::size_t used_ = 0;
  std::size_t count_ = 0;
};

}  // namespace orgkat
