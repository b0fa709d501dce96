#include "scraper/record_id_list.h"

#include <utility>

namespace orgkat {

std::size_t RecordIdList::AdoptText(std::string text) {
  const std::size_t start = text_.size();
  if (text_.empty()) {
    text_ = std::move(text);
  } else {
    text_ += text;
  }
  return start;
}

void RecordIdList::clear() {
  // Released, not only emptied: the list text can be large.
  std::string().swap(text_);
  std::vector<Span>().swap(spans_);
}

}  // namespace orgkat
