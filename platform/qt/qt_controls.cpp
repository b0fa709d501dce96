#include "platform/qt/qt_controls.h"

#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace orgkat {

QtLogView::QtLogView(QPlainTextEdit* edit) : edit_(edit) {}

void QtLogView::Clear() {
  if (edit_) edit_->clear();
}

void QtLogView::AppendLine(const std::string& line) {
  // appendPlainText adds one block at the end without reading the document back, so a long log
  // costs the same per line as a short one.
  if (edit_) edit_->appendPlainText(QString::fromStdString(line));
}

std::string QtLogView::Text() const {
  if (!edit_) return {};
  const QString text = edit_->toPlainText();
  if (text.isEmpty()) return {};
  QString lines = text;
  lines.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
  lines += QLatin1String("\r\n");
  return lines.toStdString();
}

QtProgressBar::QtProgressBar(QProgressBar* bar) : bar_(bar) {
  Changed();
}

void QtProgressBar::SetHint(const std::string& hint) {
  hint_ = QString::fromStdString(hint);
  ShowHint();
}

void QtProgressBar::SetShowHint(bool show) {
  show_hint_ = show;
  ShowHint();
}

void QtProgressBar::Changed() {
  if (!bar_) return;
  // QProgressBar shows a busy animation when its range is empty; an empty bar is wanted instead.
  if (Max() == 0) {
    bar_->setRange(0, 1);
    bar_->setValue(0);
    return;
  }
  bar_->setRange(0, Max());
  bar_->setValue(Position());
}

void QtProgressBar::ShowHint() {
  if (bar_) bar_->setToolTip(show_hint_ ? hint_ : QString());
}

QtStartControl::QtStartControl(QPushButton* button) : button_(button) {}

void QtStartControl::SetEnabled(bool enabled) {
  if (button_) button_->setEnabled(enabled);
}

QtResumeTimer::QtResumeTimer(QTimer* timer) : timer_(timer) {}

void QtResumeTimer::SetInterval(int milliseconds) {
  if (timer_) timer_->setInterval(milliseconds);
}

void QtResumeTimer::SetEnabled(bool enabled) {
  if (!timer_) return;
  // start() restarts a running timer, so every arming counts a full interval from now.
  if (enabled) {
    timer_->start();
  } else {
    timer_->stop();
  }
}

}  // namespace orgkat
