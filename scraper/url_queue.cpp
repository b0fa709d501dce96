#include "scraper/url_queue.h"

#include <utility>

#include "scraper/directory_endpoints.h"

namespace orgkat {

void TUrlQueue::Assign(std::string url) {
  clear();
  urls_.push_back(std::move(url));
}

void TUrlQueue::Assign(std::deque<std::string> urls) {
  clear();
  urls_ = std::move(urls);
}

void TUrlQueue::Assign(RecordIdList ids, std::string apiHost) {
  clear();
  ids_ = std::move(ids);
  api_host_ = std::move(apiHost);
}

std::string TUrlQueue::PopFront() {
  if (!urls_.empty()) {
    std::string url = std::move(urls_.front());
    urls_.pop_front();
    return url;
  }
  std::string url = RecordUrl(api_host_, ids_[next_id_++]);
  // The list text goes as soon as its last identifier is taken.
  if (next_id_ == ids_.size()) clear();
  return url;
}

void TUrlQueue::clear() {
  urls_.clear();
  ids_.clear();
  next_id_ = 0;
}

}  // namespace orgkat
