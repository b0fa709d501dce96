#include "scraper/directory_endpoints.h"

#include <cstdint>
#include <cstring>
#include <utility>

namespace orgkat {

namespace {

constexpr std::string_view kRecordPath = "/api/eduoffices/";
constexpr std::string_view kListPathAndQuery =
    "/api/eduoffices/sphinx.json?area=&by_legal=1&district=&is_active=1&limit=5000&metro=&"
    "orgkat_special_order=1&page=1&program=&search=";
constexpr std::string_view kIdToken = "\"eo_id\":";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

std::uint64_t Load8(const unsigned char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// Length of the well-formed sequence that starts at s (a byte of 0x80 or above), or 0 with
// `bad` set to the length of its maximal subpart: the longest prefix that some well-formed
// sequence starts with, at least one byte. Each such subpart becomes one U+FFFD.
std::size_t MultibyteLength(const unsigned char* s, std::size_t available, std::size_t& bad) {
  const unsigned lead = s[0];
  std::size_t need;
  unsigned low = 0x80;
  unsigned high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    if (lead == 0xE0) low = 0xA0;   // overlong below U+0800
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    if (lead == 0xF0) low = 0x90;   // overlong below U+10000
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    bad = 1;
    return 0;
  }
  for (std::size_t k = 1; k <= need; ++k) {
    if (k >= available || s[k] < low || s[k] > high) {
      bad = k;
      return 0;
    }
    low = 0x80;
    high = 0xBF;
  }
  return need + 1;
}

}  // namespace

std::string ListUrl(const std::string& apiHost) {
  std::string url = "https://";
  url += apiHost;
  url += kListPathAndQuery;
  return url;
}

std::string RecordUrl(const std::string& apiHost, std::string_view id) {
  std::string url;
  url.reserve(8 + apiHost.size() + kRecordPath.size() + id.size() + 5);
  url += "https://";
  url += apiHost;
  url += kRecordPath;
  url += id;
  url += ".json";
  return url;
}

std::string DecodeBody(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::string out;
  out.reserve(n);
  // Well-formed runs are only measured here and copied in one piece when an error or the end
  // interrupts them.
  std::size_t runStart = 0;
  std::size_t i = 0;
  while (i < n) {
    // Eight bytes at a time while they hold only ASCII and two-byte sequences (Cyrillic, among
    // others). Per byte lane: `cont` marks 10xxxxxx, `lead` 110xxxxx; every lead must be
    // followed by a continuation and every continuation preceded by a lead, C0 and C1 excluded.
    // `carry` marks a lead in the last lane of the word before.
    std::uint64_t carry = 0;
    while (i + 8 <= n) {
      const std::uint64_t word = Load8(p + i);
      const std::uint64_t high = word & kHighBits;
      if ((high | carry) == 0) {
        i += 8;
        continue;
      }
      const std::uint64_t bit6 = (word << 1) & kHighBits;
      const std::uint64_t bit5 = (word << 2) & kHighBits;
      const std::uint64_t cont = high & ~bit6;
      const std::uint64_t lead = high & bit6 & ~bit5;
      const std::uint64_t longer = high & bit6 & bit5;
      const std::uint64_t notOverlong =
          ((word & 0x1E1E1E1E1E1E1E1Eull) + 0x7F7F7F7F7F7F7F7Full) & kHighBits;
      if (longer != 0 || ((lead << 8) | carry) != cont || (lead & ~notOverlong) != 0) break;
      carry = (lead >> 56) & 0x80;
      i += 8;
    }
    // Back to the lead byte whose continuation lies in the word that stopped the fast path.
    if (carry != 0) --i;
    // One sequence at a time across the word that stopped the fast path.
    const std::size_t stop = i + 8 < n ? i + 8 : n;
    while (i < stop) {
      if (p[i] < 0x80) {
        ++i;
        continue;
      }
      std::size_t bad = 0;
      const std::size_t length = MultibyteLength(p + i, n - i, bad);
      if (length != 0) {
        i += length;
        continue;
      }
      out.append(bytes, runStart, i - runStart);
      out += kReplacement;
      i += bad;
      runStart = i;
    }
  }
  out.append(bytes, runStart, n - runStart);
  return out;
}

namespace {

// glibc's memmem is several times faster than a generic search over megabytes of list text; other
// C libraries lack it.
std::size_t FindIdToken(std::string_view text, std::size_t from) {
#ifdef __GLIBC__
  const void* hit =
      memmem(text.data() + from, text.size() - from, kIdToken.data(), kIdToken.size());
  return hit == nullptr ? std::string_view::npos
                        : static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
#else
  return text.find(kIdToken, from);
#endif
}

}  // namespace

void ScanRecordUrls(std::string text, RecordIdList& foundIds, const LogSink& log) {
  const std::size_t base = foundIds.AdoptText(std::move(text));
  const std::string_view held = foundIds.Text();
  const char* data = held.data();
  const std::size_t size = held.size();
  // Counted first so that the spans take one allocation of their final size.
  std::size_t tokens = 0;
  for (std::size_t from = base; from < size;) {
    const std::size_t hit = FindIdToken(held, from);
    if (hit == std::string_view::npos) break;
    ++tokens;
    from = hit + kIdToken.size();
  }
  foundIds.Reserve(tokens);
  std::size_t from = base;
  // The first comma at or after the last token's end; found once and reused by every token
  // before it, so the whole scan stays linear.
  std::size_t comma = 0;
  bool haveComma = false;
  while (from < size) {
    const std::size_t hit = FindIdToken(held, from);
    if (hit == std::string_view::npos) break;
    const std::size_t idStart = hit + kIdToken.size();
    if (!haveComma || comma < idStart) {
      const void* found = std::memchr(data + idStart, ',', size - idStart);
      // Without a comma no later token can yield a URL either.
      if (found == nullptr) break;
      comma = static_cast<std::size_t>(static_cast<const char*>(found) - data);
      haveComma = true;
    }
    foundIds.Add(idStart, comma - idStart);
    from = idStart;
  }
  if (log) log("Найдено " + std::to_string(foundIds.size()) + " организаций");
}

}  // namespace orgkat
