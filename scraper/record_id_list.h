#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orgkat {

// Record identifiers as spans of the list text they were found in, which is held only once: a
// list without commas yields identifiers that overlap each other almost entirely.
class RecordIdList {
 public:
  // Takes over a list's text (after any text already held) and returns where it starts.
  std::size_t AdoptText(std::string text);
  void Reserve(std::size_t count) { spans_.reserve(spans_.size() + count); }
  // An identifier: `length` bytes from `offset` of the held text.
  void Add(std::size_t offset, std::size_t length) { spans_.push_back({offset, length}); }

  // Every text taken over, one after the other.
  std::string_view Text() const { return text_; }
  std::size_t size() const { return spans_.size(); }
  bool empty() const { return spans_.empty(); }
  std::string_view operator[](std::size_t index) const {
    return std::string_view(text_).substr(spans_[index].offset, spans_[index].length);
  }
  void clear();

 private:
  struct Span {
    std::uint64_t offset;
    std::uint64_t length;
  };
  std::string text_;
  std::vector<Span> spans_;
};

}  // namespace orgkat
