#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orgkat {

class JsonDocument;

// One value of a parsed document: a small handle, valid as long as its JsonDocument.
class JsonValue {
 public:
  enum class Kind { Null, Boolean, Integer, Decimal, Double, String, Array, Object };

  Kind kind() const;
  bool IsObject() const { return kind() == Kind::Object; }
  bool IsArray() const { return kind() == Kind::Array; }

  bool Boolean() const { return kind() == Kind::Boolean && Integer() != 0; }
  // Integer: the value; Decimal: the value times 10^4 (exact to four decimal places).
  std::int64_t Integer() const;
  double Double() const;
  // String: its characters, escapes resolved.
  std::string_view String() const;

  // The member of that exact name (the later one when the name repeats); nothing when absent or
  // when this value is not an object.
  std::optional<JsonValue> Member(std::string_view name) const;
  // Array length; 0 for anything that is not an array. Counts the elements one by one.
  std::size_t Size() const;
  // Array element, found by walking to it; nothing when out of range or not an array.
  std::optional<JsonValue> Element(std::size_t index) const;
  // The first element of an array, and the element after this one in its array: a walk over
  // all elements in linear time.
  std::optional<JsonValue> First() const;
  std::optional<JsonValue> Next() const;

  // The value as text: a string's characters, numbers in their canonical form, "true", "false",
  // "null", and objects and arrays as compact JSON in which only ", \, / and NUL are escaped.
  std::string Text() const;

 private:
  friend class JsonDocument;

  JsonValue(const JsonDocument& document, std::size_t index, std::size_t parentEnd)
      : document_(&document), index_(index), parent_end_(parentEnd) {}

  const JsonDocument* document_;
  std::size_t index_;
  std::size_t parent_end_;  // where the enclosing array's elements end
};

// A parsed document, compact whatever its shape: every value is one 64-bit node in pre-order
// (a container's node holds where its contents end), and strings, member names and numbers too
// large for a node sit in a byte store. Neither storage nor destruction nor text conversion
// grows the call stack, however deep the nesting.
class JsonDocument {
 public:
  // nullptr when the text is not one well-formed JSON value.
  static std::unique_ptr<JsonDocument> Parse(std::string_view text);

  JsonValue Root() const { return JsonValue(*this, 0, count_); }

 private:
  friend class JsonBuilder;
  friend class JsonValue;

  static constexpr unsigned kNodeShift = 12;   // nodes per block: 2^12
  static constexpr unsigned kStoreShift = 16;  // bytes per shared store block: 2^16

  std::uint64_t Node(std::size_t index) const {
    return nodes_[index >> kNodeShift][index & ((std::size_t{1} << kNodeShift) - 1)];
  }
  std::uint64_t& NodeAt(std::size_t index) {
    return nodes_[index >> kNodeShift][index & ((std::size_t{1} << kNodeShift) - 1)];
  }
  std::size_t Push(std::uint64_t node);
  // Where the value at `index` and everything inside it ends.
  std::size_t End(std::size_t index) const;
  // Keeps bytes (with their length) in the store; the position it answers finds them again.
  std::uint64_t Store(std::string_view bytes);
  std::string_view Stored(std::uint64_t position) const;

  std::vector<std::unique_ptr<std::uint64_t[]>> nodes_;
  std::size_t count_ = 0;
  // Shared blocks of 2^kStoreShift bytes, and blocks of their own for long strings.
  std::vector<std::unique_ptr<char[]>> store_;
  std::size_t shared_block_ = 0;
  std::size_t shared_used_ = std::size_t{1} << kStoreShift;
};

}  // namespace orgkat
