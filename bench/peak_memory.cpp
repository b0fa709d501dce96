// Peak memory of one hostile input, in a fresh process per case:
//   bench_peak_memory CASE BYTES
// CASE: list-commaless, list (a list phase: decode, scan, dispatch every record URL);
// record-deep (BYTES levels of '[' and as many ']'), record-nested (a record whose title is
// nested arrays, BYTES in all), record-string (a record whose title is a BYTES-long string):
// decode and row; chunk-extension (a chunked response from a local server whose first chunk line
// is BYTES long); compare (two runs of BYTES rows each, written by a child process, compared and
// the report written as orgkat-cli --compare does). Prints the body size (for compare: both
// result files), the peak resident set and the target for the case.
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "bench/run_pair.h"
#include "platform/http_client.h"
#include "scraper/directory_endpoints.h"
#include "scraper/record_id_list.h"
#include "scraper/record_row.h"
#include "scraper/run_comparison.h"
#include "scraper/url_queue.h"

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

double PeakMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) * 1024.0 / kMiB;
}

// The list phase as the controller runs it, with every URL taken as if dispatched.
std::size_t ListPhase(std::string body) {
  orgkat::RecordIdList ids;
  orgkat::ScanRecordUrls(orgkat::DecodeBody(std::exchange(body, std::string())), ids, {});
  orgkat::TUrlQueue queue;
  queue.Assign(std::move(ids), "api.orgkat.example");
  std::size_t urlBytes = 0;
  while (!queue.empty()) urlBytes += queue.PopFront().size();
  return urlBytes;
}

std::string RecordPhase(std::string body) {
  const std::string text = orgkat::DecodeBody(std::exchange(body, std::string()));
  std::string director;
  try {
    return orgkat::RecordRow(text, director);
  } catch (const std::runtime_error& failure) {
    return failure.what();
  }
}

// Serves one chunked response whose first chunk line holds `bytes` of extension, written in
// pieces so that the server holds almost nothing itself.
std::string ChunkExtension(std::size_t bytes) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listener, 1) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
    throw std::runtime_error("cannot listen");
  }
  std::thread server([listener, bytes] {
    const int fd = ::accept(listener, nullptr, nullptr);
    char request[4096];
    [[maybe_unused]] const auto got = ::recv(fd, request, sizeof request, 0);
    const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1;x=";
    const std::string filler(65536, 'e');
    bool open = ::send(fd, head.data(), head.size(), MSG_NOSIGNAL) >= 0;
    for (std::size_t sent = 0; open && sent < bytes; sent += filler.size()) {
      const std::size_t n = std::min(filler.size(), bytes - sent);
      open = ::send(fd, filler.data(), n, MSG_NOSIGNAL) >= 0;
    }
    if (open) ::send(fd, "\r\na\r\n0\r\n\r\n", 12, MSG_NOSIGNAL);
    ::close(fd);
  });
  orgkat::HttpClientSettings settings;
  const auto client = orgkat::CreateHttpClient(settings);
  std::string body;
  std::string outcome = "completed";
  try {
    client->Get("http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/", body);
  } catch (const orgkat::HttpError& failure) {
    outcome = failure.what();
  }
  server.join();
  ::close(listener);
  return outcome;
}

// Two runs of `rows` rows, written by a child process so that their making leaves no trace in
// this process's peak; then compared here. Returns the comparison's sentence.
std::string Compare(int rows) {
  char dir[] = "/tmp/orgkat-peak-XXXXXX";
  if (mkdtemp(dir) == nullptr) throw std::runtime_error("no temporary directory");
  const std::string folder = std::string(dir) + "/";
  const pid_t child = fork();
  if (child == 0) {
    orgkat::bench::WriteRun(folder, 1, rows, 0);
    orgkat::bench::WriteRun(folder, 2, rows, 1);
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  const double files = static_cast<double>(std::filesystem::file_size(folder + "data1.csv") +
                                           std::filesystem::file_size(folder + "data2.csv")) /
                       kMiB;
  const double before = PeakMiB();
  const auto outcome = orgkat::CompareRunFiles(folder + "data1.csv", folder + "data2.csv");
  std::printf(
      "compare %d rows: both result files %.1f MiB, peak RSS %.1f MiB (%.1f MiB before), "
      "target %.1f MiB",
      rows, files, PeakMiB(), before, 3 * files);
  std::filesystem::remove_all(dir);
  return outcome.Line;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s CASE BYTES\n", argv[0]);
    return 2;
  }
  const std::string kind = argv[1];
  const std::size_t bytes = std::strtoull(argv[2], nullptr, 10);
  if (kind == "compare") {
    std::printf("; %s\n", Compare(static_cast<int>(bytes)).c_str());
    return 0;
  }
  std::string body;
  std::string outcome;
  // Built in place: the reserved room that stays unused is never touched, so never resident.
  body.reserve(bytes * 2 + 4096);
  if (kind == "list-commaless") {
    while (body.size() + 8 <= bytes) body += "\"eo_id\":";
    body += ',';
  } else if (kind == "list") {
    body = "{\"list\":[";
    for (int id = 0; body.size() < bytes; ++id) {
      body += "{\"eo_id\":" + std::to_string(100000 + id) + ",\"title\":\"Организация\"},";
    }
    body += "{}]}";
  } else if (kind == "record-deep") {
    body.append(bytes, '[').append(bytes, ']');
  } else if (kind == "record-nested") {
    body = "{\"list\":{\"title\":";
    body.append(bytes / 2, '[').append(bytes / 2, ']') += "}}";
  } else if (kind == "record-string") {
    body = "{\"list\":{\"title\":\"";
    body.append(bytes, 'x') += "\"}}";
  } else if (kind != "chunk-extension") {
    std::fprintf(stderr, "unknown case %s\n", kind.c_str());
    return 2;
  }
  const double bodyMiB = kind == "chunk-extension" ? bytes / kMiB : body.size() / kMiB;
  const double before = PeakMiB();
  double target = 0;
  if (kind.rfind("list", 0) == 0) {
    outcome = std::to_string(ListPhase(std::move(body))) + " URL bytes dispatched";
    target = 3 * bodyMiB + 64;
  } else if (kind.rfind("record", 0) == 0) {
    outcome = RecordPhase(std::move(body)).substr(0, 60);
    target = 10 * bodyMiB + 64;
  } else {
    outcome = ChunkExtension(bytes);
  }
  std::printf("%s %zu: body %.1f MiB, peak RSS %.1f MiB (%.1f MiB before the case)", kind.c_str(),
              bytes, bodyMiB, PeakMiB(), before);
  if (target > 0) std::printf(", target %.1f MiB", target);
  std::printf("; %s\n", outcome.c_str());
  return 0;
}
