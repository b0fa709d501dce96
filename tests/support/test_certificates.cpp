#include "tests/support/test_certificates.h"

#include <cstdlib>
#include <random>
#include <stdexcept>
#include <string>

namespace orgkat::test {

namespace {

void RunOpenssl(const std::string& args) {
  const std::string command = "openssl " + args + " >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

TestCertificates Generate() {
  std::random_device random;
  TestCertificates files;
  files.dir = std::filesystem::temp_directory_path() /
              ("orgkat-tls-" + std::to_string(random()) + std::to_string(random()));
  std::filesystem::create_directories(files.dir);
  files.server_cert = files.dir / "server-cert.pem";
  files.server_key = files.dir / "server-key.pem";
  files.client_cert = files.dir / "01cert.pem";
  files.client_key = files.dir / "01key.pem";
  files.second_client_cert = files.dir / "second-cert.pem";
  files.second_client_key = files.dir / "second-key.pem";
  files.authority_cert = files.dir / "ca-cert.pem";
  files.issued_client_cert = files.dir / "issued-cert.pem";
  files.issued_client_key = files.dir / "issued-key.pem";
  const auto authority_key = files.dir / "ca-key.pem";
  const auto request = files.dir / "issued.csr";
  const std::string ec_key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1";
  RunOpenssl("req -x509 " + ec_key + " -nodes -days 2 -subj /CN=localhost -keyout " +
             files.server_key.string() + " -out " + files.server_cert.string());
  RunOpenssl("req -x509 " + ec_key +
             " -days 2 -subj /CN=orgkat-client -passout pass:" + kClientPassPhrase + " -keyout " +
             files.client_key.string() + " -out " + files.client_cert.string());
  RunOpenssl("req -x509 " + ec_key +
             " -days 2 -subj /CN=orgkat-client-2 -passout pass:" + kClientPassPhrase + " -keyout " +
             files.second_client_key.string() + " -out " + files.second_client_cert.string());
  RunOpenssl("req -x509 " + ec_key + " -nodes -days 2 -subj /CN=orgkat-test-ca -keyout " +
             authority_key.string() + " -out " + files.authority_cert.string());
  RunOpenssl("req -new " + ec_key +
             " -subj /CN=orgkat-client-3 -passout pass:" + kClientPassPhrase + " -keyout " +
             files.issued_client_key.string() + " -out " + request.string());
  RunOpenssl("x509 -req -days 2 -set_serial 3 -in " + request.string() + " -CA " +
             files.authority_cert.string() + " -CAkey " + authority_key.string() + " -out " +
             files.issued_client_cert.string());
  return files;
}

}  // namespace

const TestCertificates& SharedTestCertificates() {
  static const TestCertificates files = Generate();
  return files;
}

ScopedWorkingDirectory::ScopedWorkingDirectory(const std::filesystem::path& dir)
    : previous_(std::filesystem::current_path()) {
  std::filesystem::current_path(dir);
}

ScopedWorkingDirectory::~ScopedWorkingDirectory() {
  std::error_code ec;
  std::filesystem::current_path(previous_, ec);
}

}  // namespace orgkat::test
