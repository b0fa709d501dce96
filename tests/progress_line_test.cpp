// The console's progress line and closing summary: pure functions of what a run reports.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/cli/progress_line.h"
#include "app/cli/run_outcome.h"
#include "scraper/progress_hint.h"

namespace orgkat {
namespace {

using State = ProgressView::State;

int Columns(const std::string& text) {
  return static_cast<int>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

ProgressView View(State state, std::int32_t position, std::int32_t max, int width,
                  std::optional<double> rate = std::nullopt) {
  ProgressView view;
  view.Phase = state;
  view.Position = position;
  view.Max = max;
  view.Hint = ProgressHintText(position, max);
  view.Rate = rate;
  view.Width = width;
  return view;
}

ProgressView Limited(ProgressView view) {
  view.Limited = true;
  return view;
}

TEST(ProgressLine, FitsTheWidthAndShowsWhatTheMomentNeeds) {
  const std::string hint = "12 из 300, осталось 288";
  struct Case {
    ProgressView view;
    std::string expected;
  } cases[] = {
      // Wide: a bar of at most 30 cells, the hover text, then rate and time left once known.
      {View(State::Records, 12, 300, 200), "[#" + std::string(29, ' ') + "] " + hint},
      {View(State::Records, 150, 300, 200, 2.5), "[" + std::string(15, '#') + std::string(15, ' ') +
                                                     "] 150 из 300, осталось 150  2.5/с ~1 мин"},
      {View(State::Records, 12, 300, 200, 0.4),
       "[#" + std::string(29, ' ') + "] " + hint + "  0.4/с ~12 мин"},
      // Held: the pause instead of rate and time left.
      {View(State::Held, 12, 300, 200, 0.4), "[#" + std::string(29, ' ') + "] " + hint + "  пауза"},
      // Narrower: the bar goes before the pause, and the rate before the time left.
      {View(State::Held, 12, 300, 30), hint + "  пауза"},
      {View(State::Records, 12, 300, 40, 0.4), hint + "  0.4/с ~12 мин"},
      {View(State::Records, 12, 300, 32, 0.4), hint + "  ~12 мин"},
      {View(State::Records, 12, 300, 31, 0.4), "[     ] " + hint},
      // The list request: no bar, its total is not known yet.
      {View(State::ListRequest, 1, 1, 200), "запрашиваем список организаций…"},
      {View(State::ListRequest, 1, 1, 20), "запрашиваем список о"},
      // The bar shrinks to leave room for the text, and goes below five cells.
      {View(State::Records, 300, 300, 40), "[" + std::string(15, '#') + "] 300 из 300, осталось 0"},
      {View(State::Records, 0, 300, 30), "[     ] 0 из 300, осталось 300"},
      {View(State::Records, 12, 300, 30), hint},
      {View(State::Records, 12, 300, 21), "12 из 300, осталось 2"},
      // Below 20 columns only the counts, cut if even they do not fit.
      {View(State::Records, 12, 300, 19, 3.0), "12/300"},
      {View(State::Held, 12, 300, 19), "12/300"},
      {View(State::Records, 12, 300, 4), "12/3"},
      {View(State::ListRequest, 1, 1, 10), "0/?"},
      // The directory's limit: said before the rate, which gives way first.
      {Limited(View(State::Records, 12, 300, 200, 0.4)),
       "[#" + std::string(29, ' ') + "] " + hint + "  сервер ограничивает запросы  0.4/с ~12 мин"},
      {Limited(View(State::Records, 12, 300, 56, 0.4)), hint + "  сервер ограничивает запросы"},
      {Limited(View(State::Records, 12, 300, 200)),
       "[#" + std::string(29, ' ') + "] " + hint + "  сервер ограничивает запросы"},
      {Limited(View(State::Held, 12, 300, 30)), hint + "  пауза"},
      // Counts as the bar clamps them.
      {View(State::Records, 500, 300, 19), "300/300"},
  };
  for (const auto& c : cases) {
    const auto line = FormatProgressLine(c.view);
    EXPECT_EQ(line, c.expected) << "width " << c.view.Width << ", position " << c.view.Position;
    EXPECT_LE(Columns(line), c.view.Width) << line;
  }
}

TEST(ProgressLine, NeverWiderThanTheTerminalAtAnyWidth) {
  for (int width = 1; width <= 120; ++width) {
    for (const auto state : {State::ListRequest, State::Records, State::Held}) {
      const auto line = FormatProgressLine(View(state, 123456, 2000000, width, 1234.5));
      EXPECT_LE(Columns(line), width) << line;
      EXPECT_FALSE(line.empty()) << width;
    }
  }
}

TEST(ProgressLine, TimeLeftInSecondsMinutesAndHours) {
  const std::pair<double, std::string> cases[] = {
      {0, "~0 с"},           {0.2, "~1 с"},         {59, "~59 с"},
      {60, "~1 мин"},        {61, "~2 мин"},        {720, "~12 мин"},
      {3599, "~1 ч 00 мин"}, {3601, "~1 ч 01 мин"}, {7500, "~2 ч 05 мин"},
  };
  for (const auto& [seconds, text] : cases) EXPECT_EQ(TimeLeftText(seconds), text) << seconds;
}

TScraper::RunSummary Completed(std::size_t found, std::size_t written, std::size_t lost) {
  TScraper::RunSummary summary;
  summary.Completed = true;
  summary.LogFileSaved = true;
  summary.RecordsFound = found;
  summary.RowsWritten = written;
  for (std::size_t i = 0; i < lost; ++i) {
    summary.LostUrls.push_back("https://h/api/eduoffices/" + std::to_string(i) + ".json");
  }
  summary.ResultPath = "/out/data1.csv";
  summary.LogPath = "/out/log-2.txt";
  return summary;
}

TEST(RunOutcome, TheExitStatusTellsWhetherEveryRecordHasItsRow) {
  auto error = Completed(5, 5, 0);
  error.ErrorReported = true;
  auto unsaved = Completed(5, 5, 0);
  unsaved.LogFileSaved = false;
  auto unfinished = Completed(5, 2, 0);
  unfinished.Completed = false;
  const struct {
    RunOutcome outcome;
    int status;
    const char* why;
  } cases[] = {
      {{false, Completed(5, 5, 0)}, 0, "every record has its row"},
      {{false, Completed(5, 3, 2)}, 3, "two records lost"},
      {{false, Completed(0, 0, 0)}, 0, "nothing to collect, but completed"},
      {{false, error}, 1, "an error was reported"},
      {{false, unsaved}, 1, "the log was not saved"},
      {{false, unfinished}, 1, "not completed"},
      {{false, std::nullopt}, 1, "no run ended"},
      {{true, Completed(5, 3, 2)}, 130, "stopped by the operator"},
  };
  for (const auto& c : cases) EXPECT_EQ(ExitStatus(c.outcome), c.status) << c.why;
}

TEST(RunOutcome, TheSummaryListsAtMostTwentyLostRecords) {
  EXPECT_EQ(SummaryText(Completed(5, 3, 2)),
            "orgkat-cli: records found: 5, rows written: 3, records lost: 2\n"
            "records with no row in the CSV (failed after their last attempt, or skipped):\n"
            "  https://h/api/eduoffices/0.json\n"
            "  https://h/api/eduoffices/1.json\n"
            "CSV: /out/data1.csv\n"
            "log: /out/log-2.txt\n");

  const auto many = SummaryText(Completed(30, 5, 25));
  EXPECT_NE(many.find("  https://h/api/eduoffices/19.json\n  and 5 more\n"), std::string::npos)
      << many;
  EXPECT_EQ(many.find("eduoffices/20.json"), std::string::npos);

  auto refused = Completed(5, 5, 0);
  refused.Refusals = 7;
  EXPECT_EQ(SummaryText(refused),
            "orgkat-cli: records found: 5, rows written: 5, records lost: 0\n"
            "the directory refused 7 requests as too many (429/503) and the run slowed down to "
            "its pace\n"
            "CSV: /out/data1.csv\nlog: /out/log-2.txt\n");

  TScraper::RunSummary none;
  EXPECT_EQ(SummaryText(none),
            "orgkat-cli: records found: 0, rows written: 0, records lost: 0\n"
            "CSV: (none made)\nlog: (not saved)\n");
}

}  // namespace
}  // namespace orgkat
