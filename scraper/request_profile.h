#pragma once

#include <string>

#include "platform/http_client.h"
#include "scraper/run_config.h"

namespace orgkat {

// The settings every fetch worker gives its client: the browser-like header texts, the limits
// and the client certificate. The proxy and the header hook are the worker's own.
HttpClientSettings RequestSettings(const RunConfig& config);

// The extra header line of every request: "Origin: https://" and the directory site host.
std::string OriginHeader(const std::string& site_host);

}  // namespace orgkat
