#include "scraper/request_profile.h"

namespace orgkat {

HttpClientSettings RequestSettings(const RunConfig& config) {
  HttpClientSettings settings;
  settings.Accept = "text/html, */*";
  settings.Agent =
      "Mozilla/5.0 (Windows NT 6.1; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
      "Chrome/109.0.0.0 Safari/537.36";
  settings.Timeout = config.HttpTimeout;
  settings.RequestLimit = config.HttpRequestLimit;
  settings.LocationChangeMaxCount = 10;
  settings.RequestVer = "1.1";
  TlsSettings tls;
  tls.CertFile = config.CertDir + "01cert.pem";
  tls.PrivKeyFile = config.CertDir + "01key.pem";
  tls.PassPhrase = "qwzxkvbn";
  settings.Tls = tls;
  return settings;
}

std::string OriginHeader(const std::string& site_host) {
  return "Origin: https://" + site_host;
}

}  // namespace orgkat
