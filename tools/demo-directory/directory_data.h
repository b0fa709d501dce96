#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orgkat {

// A generated directory of organisations, the same for the same seed. Records are made on demand
// from (seed, index), so a large directory costs no memory.
class DemoDirectory {
 public:
  // Revision 0 is the directory as generated. A later revision is the same directory some time
  // on: every tenth organisation is gone, another tenth has a new e-mail (every second of those
  // a new head too), and a tenth as many new ones follow the last; the ones kept keep their ids.
  DemoDirectory(int count, std::uint64_t seed, int revision = 0);

  const std::vector<std::int64_t>& Ids() const { return ids_; }
  // The list response: a paged-list document whose items carry "eo_id" among other members,
  // followed by `padding` filler bytes in a member of its own.
  std::string ListBody(std::size_t padding) const;
  // The record response for an id ({"list": {...}}), or nothing for an unknown id.
  std::optional<std::string> RecordBody(std::int64_t id) const;

 private:
  std::uint64_t seed_;
  int revision_;
  std::vector<std::int64_t> ids_;
  std::vector<int> numbers_;  // each organisation's number, which its texts carry
  std::vector<bool> altered_;
};

// A 64-bit mix of the values (splitmix64 steps), for deterministic choices.
std::uint64_t MixHash(std::uint64_t a, std::uint64_t b, std::uint64_t c = 0);

}  // namespace orgkat
