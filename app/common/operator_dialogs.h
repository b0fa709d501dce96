#pragma once

#include <string>

namespace orgkat {

// The message boxes through which the window asks and tells its operator, in its own toolkit.
// Every text is in the operator's language. UI thread only; each box is modal.
class IOperatorDialogs {
 public:
  enum class Answer { Yes, No, Cancel };
  // What the account at the end of a run is about: records without a row (they can be fetched
  // again), a failure of the whole run, or only news (what changed since the last collection).
  enum class Account { Missing, Failed, News };

  virtual ~IOperatorDialogs() = default;
  virtual void ShowError(const std::string& text) = 0;
  virtual void ShowNotice(const std::string& text) = 0;
  // Да (the default, taken by Enter) and Нет; with `cancel` also Отмена, which Escape chooses;
  // without it Escape answers Нет.
  virtual Answer Ask(const std::string& question, bool cancel) = 0;
  // The account at the end of a run. Of missing records its buttons are Дозапросить (the default)
  // and Закрыть, and the answer is whether the first was chosen; otherwise it has Закрыть alone.
  virtual bool ShowAccount(const std::string& text, Account kind) = 0;
};

}  // namespace orgkat
