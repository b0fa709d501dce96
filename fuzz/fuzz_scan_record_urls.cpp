// ScanRecordUrls against the literal remove-the-prefix algorithm: the same URLs in the same order,
// appended after what the list held, one count line, each URL the record prefix + id + ".json".
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "scraper/directory_endpoints.h"

namespace {

constexpr std::string_view kToken = "\"eo_id\":";
const std::string kHost = "api.test:8443";
const std::string kPrefix = "https://" + kHost + "/api/eduoffices/";

// Cuts everything up to the token's colon away, then takes the text up to the next comma.
std::vector<std::string> ReferenceIds(std::string text) {
  std::vector<std::string> ids;
  for (auto at = text.find(kToken); at != std::string::npos; at = text.find(kToken)) {
    text.erase(0, at + kToken.size());
    const auto comma = text.find(',');
    if (comma != std::string::npos) ids.push_back(text.substr(0, comma));
  }
  return ids;
}

std::size_t CountTokens(std::string_view text) {
  std::size_t count = 0;
  for (auto at = text.find(kToken); at != std::string_view::npos; at = text.find(kToken, at + 1)) {
    ++count;
  }
  return count;
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_scan_record_urls: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // The list may already hold URLs: the scan appends and counts the whole list.
  orgkat::RecordIdList found;
  orgkat::ScanRecordUrls("earlier,\"eo_id\":earlier,", found, {});
  std::vector<std::string> lines;
  orgkat::ScanRecordUrls(std::string(text), found,
                         [&](const std::string& message) { lines.push_back(message); });
  std::vector<std::string> urls;
  for (std::size_t i = 0; i < found.size(); ++i) urls.push_back(orgkat::RecordUrl(kHost, found[i]));
  if (urls.empty() || urls[0] != kPrefix + "earlier.json") Fail("earlier entry lost");
  urls[0] = "earlier";

  if (lines.size() != 1) Fail("count line not logged exactly once");
  if (lines[0] != "Найдено " + std::to_string(urls.size()) + " организаций") {
    Fail("count line does not match the list");
  }
  if (urls.size() - 1 > CountTokens(text)) Fail("more URLs than tokens");

  const std::vector<std::string> ids = ReferenceIds(std::string(text));
  if (ids.size() != urls.size() - 1) Fail("URL count differs from the reference scan");
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const std::string& url = urls[i + 1];
    if (url.compare(0, kPrefix.size(), kPrefix) != 0) Fail("URL without the record prefix");
    if (url.size() < kPrefix.size() + 5 || url.compare(url.size() - 5, 5, ".json") != 0) {
      Fail("URL does not end with .json");
    }
    if (url != kPrefix + ids[i] + ".json") Fail("URL differs from the reference scan");
  }
  return 0;
}
