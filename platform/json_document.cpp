#include "platform/json_document.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>
#include <string_view>

namespace orgkat {

namespace {

using Kind = JsonValue::Kind;

// A node: the kind in its low three bits, then three flags, then the payload: a small number, a
// store position, or, for a container, the index just past its contents (while it is still
// open: the index + 1 of the container around it).
constexpr unsigned kTagBits = 6;
constexpr std::uint64_t kKindMask = 7;
constexpr std::uint64_t kNameFlag = 8;      // a member name, followed by the member's value
constexpr std::uint64_t kBoxedFlag = 16;    // the number's eight bytes are in the store
constexpr std::uint64_t kDroppedFlag = 32;  // a member whose name repeats later in its object
constexpr std::int64_t kInlineLimit = std::int64_t{1} << (63 - kTagBits);
// Strings longer than this get a store block of their own.
constexpr std::size_t kOwnBlockBytes = 4096;

std::uint64_t MakeNode(Kind kind, std::uint64_t payload, std::uint64_t flags = 0) {
  return payload << kTagBits | flags | static_cast<std::uint64_t>(kind);
}
Kind KindOf(std::uint64_t node) {
  return static_cast<Kind>(node & kKindMask);
}
std::uint64_t Payload(std::uint64_t node) {
  return node >> kTagBits;
}
bool IsContainer(std::uint64_t node) {
  return KindOf(node) == Kind::Array || KindOf(node) == Kind::Object;
}

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

// Builds the document from the parser's events. The open containers form a chain through
// their own nodes, so nesting costs no memory beyond the nodes themselves.
class JsonBuilder {
 public:
  explicit JsonBuilder(JsonDocument& document) : document_(document) {}

  bool null() {
    document_.Push(MakeNode(Kind::Null, 0));
    return true;
  }
  bool boolean(bool value) {
    document_.Push(MakeNode(Kind::Boolean, value ? 1 : 0));
    return true;
  }
  bool number_integer(std::int64_t value) {
    AddNumber(Kind::Integer, value);
    return true;
  }
  bool number_unsigned(std::uint64_t value) {
    if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      AddDouble(static_cast<double>(value));
    } else {
      AddNumber(Kind::Integer, static_cast<std::int64_t>(value));
    }
    return true;
  }
  bool number_float(double value, const std::string& text) {
    std::int64_t scaled = 0;
    if (ParseDecimal(text, scaled)) {
      AddNumber(Kind::Decimal, scaled);
    } else {
      AddDouble(value);
    }
    return true;
  }
  bool string(std::string& value) {
    document_.Push(MakeNode(Kind::String, document_.Store(value)));
    return true;
  }
  bool binary(nlohmann::json::binary_t&) { return false; }
  bool start_object(std::size_t) {
    Open(Kind::Object);
    return true;
  }
  bool key(std::string& name) {
    document_.Push(MakeNode(Kind::String, document_.Store(name), kNameFlag));
    return true;
  }
  bool end_object() {
    KeepLaterMembers(Close());
    return true;
  }
  bool start_array(std::size_t) {
    Open(Kind::Array);
    return true;
  }
  bool end_array() {
    Close();
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    return false;
  }

 private:
  void AddNumber(Kind kind, std::int64_t value) {
    if (value >= -kInlineLimit && value < kInlineLimit) {
      document_.Push(MakeNode(kind, static_cast<std::uint64_t>(value)));
      return;
    }
    char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    document_.Push(MakeNode(kind, document_.Store({bytes, sizeof bytes}), kBoxedFlag));
  }
  void AddDouble(double value) {
    char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    document_.Push(MakeNode(Kind::Double, document_.Store({bytes, sizeof bytes}), kBoxedFlag));
  }
  void Open(Kind kind) { open_ = document_.Push(MakeNode(kind, open_)) + 1; }
  // Closes the innermost container and answers its index.
  std::size_t Close() {
    const std::size_t index = open_ - 1;
    std::uint64_t& node = document_.NodeAt(index);
    open_ = Payload(node);
    node = MakeNode(KindOf(node), document_.count_);
    return index;
  }

  std::string_view NameAt(std::size_t index) const {
    return document_.Stored(Payload(document_.Node(index)));
  }

  // Where a name repeats, only its last member counts, so lookups and text agree.
  void KeepLaterMembers(std::size_t object) {
    const std::size_t end = document_.End(object);
    std::size_t count = 0;
    for (std::size_t i = object + 1; i < end; i = document_.End(i + 1)) ++count;
    if (count < 2) return;
    std::vector<std::size_t> names;
    names.reserve(count);
    for (std::size_t i = object + 1; i < end; i = document_.End(i + 1)) names.push_back(i);
    if (count <= 32) {
      // Repeats are rare: small objects are checked pairwise.
      for (std::size_t a = 0; a < count; ++a) {
        for (std::size_t b = a + 1; b < count; ++b) {
          if (NameAt(names[a]) == NameAt(names[b])) {
            document_.NodeAt(names[a]) |= kDroppedFlag;
            break;
          }
        }
      }
      return;
    }
    std::sort(names.begin(), names.end(), [this](std::size_t a, std::size_t b) {
      const int order = NameAt(a).compare(NameAt(b));
      return order != 0 ? order < 0 : a < b;
    });
    for (std::size_t k = 0; k + 1 < count; ++k) {
      if (NameAt(names[k]) == NameAt(names[k + 1])) document_.NodeAt(names[k]) |= kDroppedFlag;
    }
  }

  JsonDocument& document_;
  std::size_t open_ = 0;  // index + 1 of the innermost open container; 0: none
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

std::size_t JsonDocument::Push(std::uint64_t node) {
  if ((count_ >> kNodeShift) == nodes_.size()) {
    nodes_.push_back(std::make_unique_for_overwrite<std::uint64_t[]>(std::size_t{1} << kNodeShift));
  }
  NodeAt(count_) = node;
  return count_++;
}

std::size_t JsonDocument::End(std::size_t index) const {
  const std::uint64_t node = Node(index);
  return IsContainer(node) ? Payload(node) : index + 1;
}

std::uint64_t JsonDocument::Store(std::string_view bytes) {
  // The length goes first, seven bits to a byte.
  char prefix[10];
  std::size_t prefixLength = 0;
  for (std::uint64_t n = bytes.size();; n >>= 7) {
    prefix[prefixLength++] = static_cast<char>((n & 0x7F) | (n >= 0x80 ? 0x80 : 0));
    if (n < 0x80) break;
  }
  const std::size_t need = prefixLength + bytes.size();
  constexpr std::size_t kBlock = std::size_t{1} << kStoreShift;
  char* at = nullptr;
  std::uint64_t position = 0;
  if (bytes.size() > kOwnBlockBytes) {
    store_.push_back(std::make_unique_for_overwrite<char[]>(need));
    at = store_.back().get();
    position = static_cast<std::uint64_t>(store_.size() - 1) << kStoreShift;
  } else {
    if (shared_used_ + need > kBlock) {
      store_.push_back(std::make_unique_for_overwrite<char[]>(kBlock));
      shared_block_ = store_.size() - 1;
      shared_used_ = 0;
    }
    at = store_[shared_block_].get() + shared_used_;
    position = static_cast<std::uint64_t>(shared_block_) << kStoreShift | shared_used_;
    shared_used_ += need;
  }
  std::memcpy(at, prefix, prefixLength);
  if (!bytes.empty()) std::memcpy(at + prefixLength, bytes.data(), bytes.size());
  return position;
}

std::string_view JsonDocument::Stored(std::uint64_t position) const {
  const char* at =
      store_[position >> kStoreShift].get() + (position & ((std::uint64_t{1} << kStoreShift) - 1));
  std::uint64_t length = 0;
  for (unsigned shift = 0;; shift += 7) {
    const auto byte = static_cast<unsigned char>(*at++);
    length |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
    if (byte < 0x80) break;
  }
  return {at, static_cast<std::size_t>(length)};
}

JsonValue::Kind JsonValue::kind() const {
  return KindOf(document_->Node(index_));
}

std::int64_t JsonValue::Integer() const {
  const std::uint64_t node = document_->Node(index_);
  const Kind k = KindOf(node);
  if (k != Kind::Integer && k != Kind::Decimal && k != Kind::Boolean) return 0;
  if ((node & kBoxedFlag) == 0) return static_cast<std::int64_t>(node) >> kTagBits;
  std::int64_t value = 0;
  std::memcpy(&value, document_->Stored(Payload(node)).data(), sizeof value);
  return value;
}

double JsonValue::Double() const {
  const std::uint64_t node = document_->Node(index_);
  if (KindOf(node) != Kind::Double) return 0;
  double value = 0;
  std::memcpy(&value, document_->Stored(Payload(node)).data(), sizeof value);
  return value;
}

std::string_view JsonValue::String() const {
  const std::uint64_t node = document_->Node(index_);
  return KindOf(node) == Kind::String ? document_->Stored(Payload(node)) : std::string_view();
}

std::optional<JsonValue> JsonValue::Member(std::string_view name) const {
  const std::uint64_t node = document_->Node(index_);
  if (KindOf(node) != Kind::Object) return std::nullopt;
  const std::size_t end = Payload(node);
  for (std::size_t i = index_ + 1; i < end; i = document_->End(i + 1)) {
    const std::uint64_t member = document_->Node(i);
    if ((member & kDroppedFlag) == 0 && document_->Stored(Payload(member)) == name) {
      return JsonValue(*document_, i + 1, i + 1);
    }
  }
  return std::nullopt;
}

std::optional<JsonValue> JsonValue::First() const {
  const std::uint64_t node = document_->Node(index_);
  if (KindOf(node) != Kind::Array || Payload(node) == index_ + 1) return std::nullopt;
  return JsonValue(*document_, index_ + 1, Payload(node));
}

std::optional<JsonValue> JsonValue::Next() const {
  const std::size_t next = document_->End(index_);
  if (next >= parent_end_) return std::nullopt;
  return JsonValue(*document_, next, parent_end_);
}

std::size_t JsonValue::Size() const {
  std::size_t size = 0;
  for (auto element = First(); element; element = element->Next()) ++size;
  return size;
}

std::optional<JsonValue> JsonValue::Element(std::size_t index) const {
  auto element = First();
  for (; element && index > 0; --index) element = element->Next();
  return element;
}

std::string JsonValue::Text() const {
  const JsonDocument& document = *document_;
  if (kind() == Kind::String) return std::string(String());

  // Containers still open, innermost last; a run of them that end together and are of one kind
  // is one entry, so a deep chain of brackets costs one entry.
  struct Open {
    std::size_t end;
    char close;
    std::size_t count;
  };
  std::vector<Open> open;
  std::string out;
  const std::size_t end = document.End(index_);
  std::size_t i = index_;
  for (;;) {
    while (!open.empty() && open.back().end == i) {
      out += open.back().close;
      if (--open.back().count == 0) open.pop_back();
    }
    if (i >= end) break;
    std::uint64_t node = document.Node(i);
    if ((node & kNameFlag) != 0) {
      if ((node & kDroppedFlag) != 0) {
        i = document.End(i + 1);
        continue;
      }
      if (out.back() != '{') out += ',';
      AppendQuoted(out, document.Stored(Payload(node)));
      out += ':';
      node = document.Node(++i);
    } else if (!open.empty() && out.back() != '[') {
      out += ',';
    }
    const JsonValue value(document, i, 0);
    switch (KindOf(node)) {
      case Kind::Null:
        out += "null";
        break;
      case Kind::Boolean:
        out += Payload(node) != 0 ? "true" : "false";
        break;
      case Kind::Integer:
        out += std::to_string(value.Integer());
        break;
      case Kind::Decimal:
        AppendDecimal(out, value.Integer());
        break;
      case Kind::Double:
        AppendDouble(out, value.Double());
        break;
      case Kind::String:
        AppendQuoted(out, value.String());
        break;
      case Kind::Array:
      case Kind::Object: {
        const char close = KindOf(node) == Kind::Array ? ']' : '}';
        out += KindOf(node) == Kind::Array ? '[' : '{';
        const std::size_t contentEnd = Payload(node);
        if (!open.empty() && open.back().end == contentEnd && open.back().close == close) {
          ++open.back().count;
        } else {
          open.push_back({contentEnd, close, 1});
        }
        break;
      }
    }
    ++i;
  }
  return out;
}

}  // namespace orgkat
