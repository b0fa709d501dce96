#pragma once

#include <cstddef>
#include <deque>
#include <string>

#include "scraper/directory_endpoints.h"
#include "scraper/record_id_list.h"

namespace orgkat {

// The URLs a phase has still to fetch: given ones, then the record URL of each found identifier,
// built only when it is taken so that the list's identifiers are never copied out all at once.
class TUrlQueue {
 public:
  // The queue holds just this URL.
  void Assign(std::string url);
  // The queue holds these URLs, in order.
  void Assign(std::deque<std::string> urls);
  // The queue holds the record URL on `apiHost` of each identifier, in order.
  void Assign(RecordIdList ids, std::string apiHost);

  // Calls `visit` with each URL still queued, in order, building one at a time.
  template <typename Visit>
  void ForEach(Visit&& visit) const {
    for (const auto& url : urls_) visit(url);
    for (std::size_t i = next_id_; i < ids_.size(); ++i) visit(RecordUrl(api_host_, ids_[i]));
  }

  bool empty() const { return size() == 0; }
  std::size_t size() const { return urls_.size() + ids_.size() - next_id_; }
  // The first URL, removed from the queue; the queue must not be empty.
  std::string PopFront();
  void clear();

 private:
  std::deque<std::string> urls_;
  RecordIdList ids_;
  std::size_t next_id_ = 0;
  std::string api_host_;
};

}  // namespace orgkat
