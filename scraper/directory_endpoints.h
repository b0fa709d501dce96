#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "scraper/record_id_list.h"

namespace orgkat {

// Receives the message of one log line (the run controller wires it to AppendLog).
using LogSink = std::function<void(const std::string& message)>;

// "https://" + host + the list path and its fixed query.
std::string ListUrl(const std::string& apiHost);
// "https://" + host + "/api/eduoffices/" + id + ".json"; the id is inserted as it stands.
std::string RecordUrl(const std::string& apiHost, std::string_view id);

// Response bytes to UTF-8 text: every ill-formed sequence becomes U+FFFD (maximal subparts);
// a leading byte-order mark stays. Never fails.
std::string DecodeBody(std::string_view bytes);

// Takes over the list text and appends one identifier per "eo_id": token that has a comma after
// it (its record URL is RecordUrl of it), then logs the found-count line ("Найдено N
// организаций", N the size of foundIds).
void ScanRecordUrls(std::string text, RecordIdList& foundIds, const LogSink& log);

}  // namespace orgkat
