#include "platform/json_document.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <nlohmann/json.hpp>
#include <string_view>
#include <unordered_set>

namespace orgkat {

namespace {

// A number with a point, at most four digits after it and no exponent, held exactly in units of
// 10^-4. Texts outside that form or range are left to the double.
bool ParseDecimal(std::string_view text, std::int64_t& scaled) {
  const bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  const auto point = text.find('.');
  if (point == std::string_view::npos || text.find_first_of("eE") != std::string_view::npos) {
    return false;
  }
  const auto whole = text.substr(0, point);
  const auto fraction = text.substr(point + 1);
  if (whole.empty() || whole.size() > 15 || fraction.empty() || fraction.size() > 4) return false;
  std::uint64_t value = 0;
  for (const char c : whole) value = value * 10 + static_cast<unsigned>(c - '0');
  for (std::size_t i = 0; i < 4; ++i) {
    value = value * 10 + (i < fraction.size() ? static_cast<unsigned>(fraction[i] - '0') : 0u);
  }
  if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return false;
  scaled = negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
  return true;
}

void AppendDecimal(std::string& out, std::int64_t scaled) {
  if (scaled == 0) {
    out += '0';
    return;
  }
  // Through the unsigned type so that the most negative value cannot overflow.
  std::uint64_t magnitude = static_cast<std::uint64_t>(scaled);
  if (scaled < 0) {
    out += '-';
    magnitude = 0 - magnitude;
  }
  out += std::to_string(magnitude / 10000);
  out += '.';
  auto fraction = static_cast<unsigned>(magnitude % 10000);
  if (fraction == 0) return;
  char digits[4];
  for (int i = 3; i >= 0; --i) {
    digits[i] = static_cast<char>('0' + fraction % 10);
    fraction /= 10;
  }
  std::size_t length = 4;
  while (digits[length - 1] == '0') --length;
  out.append(digits, length);
}

void AppendDouble(std::string& out, double value) {
  char text[32];
  const int length = std::snprintf(text, sizeof text, "%.15g", value);
  out.append(text, static_cast<std::size_t>(length));
}

// Inside compact JSON only these four characters are escaped; everything else stands as it is.
void AppendQuoted(std::string& out, std::string_view text) {
  out += '"';
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '"' && c != '\\' && c != '/' && c != '\0') continue;
    out.append(text, start, i - start);
    if (c == '\0') {
      out += "\\u0000";
    } else {
      out += '\\';
      out += c;
    }
    start = i + 1;
  }
  out.append(text, start);
  out += '"';
}

}  // namespace

// Builds the document from the parser's events, with an explicit stack of open containers.
class JsonBuilder {
 public:
  explicit JsonBuilder(JsonDocument& document) : document_(document) {}

  bool null() { return Add(JsonValue::Kind::Null) != nullptr; }
  bool boolean(bool value) {
    Add(JsonValue::Kind::Boolean)->integer_ = value ? 1 : 0;
    return true;
  }
  bool number_integer(std::int64_t value) {
    Add(JsonValue::Kind::Integer)->integer_ = value;
    return true;
  }
  bool number_unsigned(std::uint64_t value) {
    if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      Add(JsonValue::Kind::Double)->double_ = static_cast<double>(value);
    } else {
      Add(JsonValue::Kind::Integer)->integer_ = static_cast<std::int64_t>(value);
    }
    return true;
  }
  bool number_float(double value, const std::string& text) {
    std::int64_t scaled = 0;
    if (ParseDecimal(text, scaled)) {
      Add(JsonValue::Kind::Decimal)->integer_ = scaled;
    } else {
      Add(JsonValue::Kind::Double)->double_ = value;
    }
    return true;
  }
  bool string(std::string& value) {
    // Copied, not moved: the parser keeps its buffer's capacity for the next string.
    Add(JsonValue::Kind::String)->string_ = value;
    return true;
  }
  bool binary(nlohmann::json::binary_t&) { return false; }
  bool start_object(std::size_t) {
    open_.push_back(Add(JsonValue::Kind::Object));
    return true;
  }
  bool key(std::string& name) {
    key_ = name;
    return true;
  }
  bool end_object() {
    KeepLaterMembers(*open_.back());
    open_.pop_back();
    return true;
  }
  bool start_array(std::size_t) {
    open_.push_back(Add(JsonValue::Kind::Array));
    return true;
  }
  bool end_array() {
    open_.pop_back();
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    return false;
  }

 private:
  JsonValue* Add(JsonValue::Kind kind) {
    JsonValue& value = document_.NewValue();
    value.kind_ = kind;
    if (!open_.empty()) {
      JsonValue& container = *open_.back();
      // Records are small objects: one allocation instead of a doubling series.
      if (container.items_.empty()) container.items_.reserve(8);
      if (container.kind_ == JsonValue::Kind::Object) value.name_ = key_;
      container.items_.push_back(&value);
    }
    return &value;
  }

  // Where a name repeats, only its last member stays, so lookups and text agree.
  static void KeepLaterMembers(JsonValue& object) {
    const std::size_t count = object.items_.size();
    if (count < 2 || !HasRepeatedName(object.items_)) return;
    std::unordered_set<std::string_view> seen;
    seen.reserve(count);
    std::vector<bool> keep(count);
    for (std::size_t i = count; i-- > 0;) keep[i] = seen.insert(object.items_[i]->name_).second;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < count; ++i) {
      if (!keep[i]) continue;
      object.items_[kept++] = object.items_[i];
    }
    object.items_.resize(kept);
  }

  // Repeats are rare: small objects are checked pairwise without allocating.
  static bool HasRepeatedName(const std::vector<const JsonValue*>& members) {
    if (members.size() > 32) {
      std::unordered_set<std::string_view> seen;
      for (const JsonValue* member : members) {
        if (!seen.insert(member->name_).second) return true;
      }
      return false;
    }
    for (std::size_t i = 1; i < members.size(); ++i) {
      for (std::size_t j = 0; j < i; ++j) {
        if (members[i]->name_ == members[j]->name_) return true;
      }
    }
    return false;
  }

  JsonDocument& document_;
  std::vector<JsonValue*> open_;
  std::string key_;
};

std::unique_ptr<JsonDocument> JsonDocument::Parse(std::string_view text) {
  auto document = std::make_unique<JsonDocument>();
  JsonBuilder builder(*document);
  if (!nlohmann::json::sax_parse(text.data(), text.data() + text.size(), &builder) ||
      document->count_ == 0) {
    return nullptr;
  }
  return document;
}

JsonValue& JsonDocument::NewValue() {
  if (chunks_.empty() || used_ == chunkSize_) {
    // Chunks grow so that small records take few allocations and large ones few chunks.
    chunkSize_ = chunks_.empty() ? 32 : std::min<std::size_t>(chunkSize_ * 2, 4096);
    chunks_.push_back(std::make_unique<JsonValue[]>(chunkSize_));
    used_ = 0;
  }
  ++count_;
  return chunks_.back()[used_++];
}

const JsonValue* JsonValue::Member(std::string_view name) const {
  if (kind_ != Kind::Object) return nullptr;
  for (const JsonValue* member : items_) {
    if (member->name_ == name) return member;
  }
  return nullptr;
}

const JsonValue* JsonValue::Element(std::size_t index) const {
  return kind_ == Kind::Array && index < items_.size() ? items_[index] : nullptr;
}

std::string JsonValue::Text() const {
  std::string out;
  if (kind_ == Kind::String) return string_;

  struct Frame {
    const JsonValue* container;
    std::size_t next;
  };
  std::vector<Frame> open;
  // Writes a scalar, or opens a container and leaves its members to the loop below.
  const auto start = [&](const JsonValue& value) {
    switch (value.kind_) {
      case Kind::Null:
        out += "null";
        break;
      case Kind::Boolean:
        out += value.integer_ != 0 ? "true" : "false";
        break;
      case Kind::Integer:
        out += std::to_string(value.integer_);
        break;
      case Kind::Decimal:
        AppendDecimal(out, value.integer_);
        break;
      case Kind::Double:
        AppendDouble(out, value.double_);
        break;
      case Kind::String:
        AppendQuoted(out, value.string_);
        break;
      case Kind::Array:
      case Kind::Object:
        out += value.kind_ == Kind::Array ? '[' : '{';
        open.push_back({&value, 0});
        break;
    }
  };
  start(*this);
  while (!open.empty()) {
    const Frame frame = open.back();
    const JsonValue& container = *frame.container;
    if (frame.next == container.items_.size()) {
      out += container.kind_ == Kind::Array ? ']' : '}';
      open.pop_back();
      continue;
    }
    ++open.back().next;
    if (frame.next > 0) out += ',';
    if (container.kind_ == Kind::Object) {
      AppendQuoted(out, container.items_[frame.next]->name_);
      out += ':';
    }
    start(*container.items_[frame.next]);
  }
  return out;
}

}  // namespace orgkat
