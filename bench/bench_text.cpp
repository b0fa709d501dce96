#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/run_pair.h"
#include "scraper/directory_endpoints.h"
#include "scraper/record_row.h"
#include "scraper/result_file.h"
#include "scraper/run_comparison.h"

namespace {

constexpr std::size_t kMiB = 1024 * 1024;

// One list entry of about 1 KiB, shaped like the directory's answer: many short quoted members,
// Cyrillic names, and the identifier member among them.
std::string ListEntry(int id) {
  std::string entry =
      "{\"eo_id\":" + std::to_string(100000 + id) + ",\"title\":\"ГБОУ Школа № " +
      std::to_string(id) +
      "\",\"title_full\":\"Государственное бюджетное общеобразовательное "
      "учреждение города Москвы «Школа № " +
      std::to_string(id) +
      "»\",\"is_active\":1,\"by_legal\":1,\"area\":{\"id\":3,\"name_short\":"
      "\"ЦАО\"},\"district\":{\"id\":17,\"name\":\"Тверской\"},\"metro\":[\"Пушкинская\","
      "\"Чеховская\"],\"address\":\"г. Москва, ул. Тверская, д. 5\",\"programs\":[";
  while (entry.size() < 1000) entry += "{\"pid\":12,\"name\":\"Основное общее\"},";
  entry += "{}]},";
  return entry;
}

// A list of about `bytes` bytes with one identifier per entry.
std::string ListText(std::size_t bytes) {
  std::string text = "{\"list\":[";
  for (int id = 0; text.size() < bytes; ++id) text += ListEntry(id);
  text += "{}],\"total\":1}";
  return text;
}

void BM_ScanRecordUrls(benchmark::State& state) {
  const std::string text = ListText(static_cast<std::size_t>(state.range(0)) * kMiB);
  std::size_t found = 0;
  for (auto _ : state) {
    orgkat::RecordIdList ids;
    orgkat::ScanRecordUrls(text, ids, {});
    found = ids.size();
    benchmark::DoNotOptimize(ids.Text().data());
  }
  state.counters["tokens"] = static_cast<double>(found);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ScanRecordUrls)->Arg(20)->Arg(40)->Unit(benchmark::kMillisecond);

std::string CyrillicBody(std::size_t bytes) {
  std::string body;
  body.reserve(bytes + 1024);
  while (body.size() < bytes) {
    body +=
        "{\"title\":\"Центр образования и развития детей «Радуга»\",\"address\":\"г. Москва, "
        "Ленинский проспект, дом 12, корпус 3\",\"director\":\"Иванова Мария Петровна\"},";
  }
  body.resize(bytes);
  // Do not end inside a character.
  while ((static_cast<unsigned char>(body.back()) & 0xC0) == 0x80 ||
         static_cast<unsigned char>(body.back()) >= 0xC0) {
    body.pop_back();
  }
  return body;
}

void BM_DecodeBody(benchmark::State& state) {
  std::string body = CyrillicBody(20 * kMiB);
  // range(0): ill-formed bytes per 10,000.
  std::mt19937 random(3);
  const std::size_t broken = body.size() * static_cast<std::size_t>(state.range(0)) / 10000;
  for (std::size_t i = 0; i < broken; ++i) body[random() % body.size()] = '\xFF';
  for (auto _ : state) {
    std::string text = orgkat::DecodeBody(body);
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_DecodeBody)->Arg(0)->Arg(100)->Unit(benchmark::kMillisecond);

// A record of about 2 KB as the directory returns it.
std::string TypicalRecord() {
  std::string body =
      R"({"list":{"eo_id":123456,"title":"ГБОУ Школа № 1234","title_full":"Государственное )"
      R"(бюджетное общеобразовательное учреждение города Москвы \"Школа № 1234\"",)"
      R"("area":{"id":3,"name":"Центральный административный округ","name_short":"ЦАО"},)"
      R"("address":{"title":"г. Москва, ул. Тверская, д. 5, стр. 1","phones":[)"
      R"({"phone":"+7 (495) 111-11-11","type":"main"},{"phone":"+7 (495) 222-22-22"},)"
      R"({"phone":""},{"phone":"+7 (495) 333-33-33"}]},)"
      R"("others":[{"title":"г. Москва, ул. Арбат, д. 10","phones":[{"phone":"1"}]}],)"
      R"("email":"school1234@edu.mos.example","website":"https://sch1234.mskobr.example",)"
      R"("director":"Иванова Мария Петровна","current_director":{"fio":"Иванова Мария )"
      R"(Петровна","phone":"Не указано","eo_phone":"+7 (495) 444-44-44",)"
      R"("email":"director1234@edu.mos.example"},"rating":4.75,"students":1520,)"
      R"("programs":[)";
  while (body.size() < 1950) {
    body += R"({"id":77,"name":"Основная общеобразовательная программа","level":2.0},)";
  }
  body += R"({}]}})";
  return body;
}

void BM_WriteRecordRow(benchmark::State& state) {
  const std::string body = TypicalRecord();
  char dir[] = "/tmp/orgkat-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) {
    state.SkipWithError("no temporary directory");
    return;
  }
  orgkat::TResultFile file;
  file.OpenResultFile(dir, 1, {});
  std::string lastDirector;
  for (auto _ : state) orgkat::WriteRecordRow(body, file, lastDirector);
  const std::string path = file.Path();
  file.CloseResultFile();
  unlink(path.c_str());
  rmdir(dir);
  state.counters["record_bytes"] = static_cast<double>(body.size());
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_WriteRecordRow);

// Two runs of range(0) rows compared as orgkat-cli --compare does it: both files and journals
// read, compared and the report written.
void BM_CompareRuns(benchmark::State& state) {
  char dir[] = "/tmp/orgkat-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) {
    state.SkipWithError("no temporary directory");
    return;
  }
  const std::string folder = std::string(dir) + "/";
  const int rows = static_cast<int>(state.range(0));
  const std::string earlier = orgkat::bench::WriteRun(folder, 1, rows, 0);
  const std::string later = orgkat::bench::WriteRun(folder, 2, rows, 1);
  std::string line;
  for (auto _ : state) {
    const auto outcome = orgkat::CompareRunFiles(earlier, later);
    state.PauseTiming();
    line = outcome.Line;
    std::filesystem::remove(outcome.ReportPath);
    state.ResumeTiming();
  }
  state.counters["bytes_of_both_csv"] =
      static_cast<double>(std::filesystem::file_size(earlier) + std::filesystem::file_size(later));
  state.SetLabel(line.substr(line.find(':') + 2));
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_CompareRuns)->Arg(20000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
