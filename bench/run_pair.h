// Two runs of one list written the way a run writes them, for the comparison's benchmarks.
#pragma once

#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "platform/tick_count.h"
#include "scraper/csv_cells.h"
#include "scraper/result_file.h"
#include "scraper/run_journal.h"
#include "scraper/url_queue.h"

namespace orgkat::bench {

// The ten cells of organisation `i`, about 600 bytes, as `revision` of the directory has them.
inline std::vector<std::string> Cells(int i, int revision) {
  const std::string n = std::to_string(i);
  // Every twentieth organisation has a new e-mail in the later revision.
  const bool altered = revision > 0 && i % 20 == 7;
  return {"ГБОУ \"Школа № " + n + "\"",
          "Государственное бюджетное общеобразовательное учреждение города Москвы \"Школа № " + n +
              "\"",
          "ЦАО",
          "123456, г. Москва, ул. Тверская, д. " + n + ", стр. 1",
          " +7 (495) 111-11-11, +7 (495) 222-22-22",
          altered ? "new" + n + "@edu.mos.example" : "school" + n + "@edu.mos.example",
          "https://sch" + n + ".mskobr.example",
          "Иванова Мария Петровна",
          " +7 (495) 444-44-44",
          "director" + n + "@edu.mos.example"};
}

// Writes data<number>.csv and its journal into dir (ending in '/'): `rows` organisations, of
// which the later revision lacks every hundredth and adds as many at the end.
inline std::string WriteRun(const std::string& dir, int number, int rows, int revision) {
  std::deque<std::string> urls;
  std::vector<int> ids;
  for (int i = 0; i < rows + (revision > 0 ? rows / 100 : 0); ++i) {
    if (revision > 0 && i < rows && i % 100 == 50) continue;
    ids.push_back(i);
    urls.push_back("https://api.orgkat.example/api/eduoffices/" + std::to_string(100000 + i) +
                   ".json");
  }
  TResultFile file;
  file.OpenResultFile(dir, static_cast<std::uint32_t>(number), {});
  TRunJournal journal;
  TUrlQueue found;
  found.Assign(std::deque<std::string>(urls));
  journal.Begin(SystemTicks(), file.Path(), file.Size(), "https://api.orgkat.example/list", found);
  for (std::size_t k = 0; k < ids.size(); ++k) {
    const std::string line = CsvLine(Cells(ids[k], revision));
    file.Write(std::string_view(line).substr(0, line.size() - 2));
    file.WriteLineBreak();
    journal.RowWritten(urls[k], file.Size());
  }
  const std::string path = file.Path();
  file.CloseResultFile();
  journal.Close();
  return path;
}

}  // namespace orgkat::bench
