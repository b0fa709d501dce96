#include "app/qt/main_form.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QFont>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QStringList>
#include <QTimer>
#include <utility>

#include "app/common/form_layout.h"
#include "platform/qt/qt_controls.h"
#include "platform/timestamp.h"

namespace orgkat {
namespace {

// Qt scales the layout on other densities than 96 dpi.
using namespace form_layout;

QRect RectOf(const Place& place) {
  return QRect(place.Left, place.Top, place.Width, place.Height);
}

// Tahoma where the system has it, otherwise the closest sans-serif face at hand.
QFont TahomaFont(int pointSize) {
  QFont font;
  font.setFamilies(QStringList{"Tahoma", "DejaVu Sans", "Liberation Sans", "Noto Sans"});
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(pointSize);
  return font;
}

QPushButton* MakeButton(const char* caption, QRect geometry, QWidget* parent) {
  auto* button = new QPushButton(QString::fromUtf8(caption), parent);
  button->setGeometry(geometry);
  return button;
}

}  // namespace

TMainForm::TMainForm(FrontEndOptions options, QWidget* parent) : QWidget(parent) {
  setWindowTitle(QStringLiteral("Парсер сайта Orgkat"));
  setFont(TahomaFont(8));
  setBackgroundRole(QPalette::Button);
  setAutoFillBackground(true);

  ProgressBar = new QProgressBar(this);
  ProgressBar->setRange(0, 100);
  ProgressBar->setValue(0);
  ProgressBar->setTextVisible(false);
  ProgressBar->setStyleSheet(
      QStringLiteral("QProgressBar { border: none; background: palette(window); }"
                     "QProgressBar::chunk { background: qlineargradient(x1: 0, y1: 0, x2: 1, y2: 0,"
                     " stop: 0 rgb(0, 128, 0), stop: 1 rgb(192, 220, 192)); }"));

  LogsMemo = new QPlainTextEdit(this);
  LogsMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
  LogsMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  LogsMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  Label2 = new QLabel(QStringLiteral("Логи"), this);
  Label2->move(kLabelLeft, kLabelTop);
  Label2->adjustSize();

  StartButton = MakeButton("СТАРТ", RectOf(kStartButton), this);
  StartButton->setFont(TahomaFont(14));
  StopButton = MakeButton("стоп", RectOf(kStopButton), this);
  PauseButton = MakeButton("пауза", RectOf(kPauseButton), this);
  setTabOrder(StartButton, PauseButton);
  setTabOrder(PauseButton, StopButton);
  setTabOrder(StopButton, LogsMemo);

  ResumeTimer = new QTimer(this);
  ResumeTimer->setSingleShot(true);

  MakeHandlers(
      {std::make_shared<QtLogView>(LogsMemo), std::make_shared<QtProgressBar>(ProgressBar),
       std::make_shared<QtStartControl>(StartButton), std::make_shared<QtResumeTimer>(ResumeTimer)},
      options, [] { QCoreApplication::processEvents(); });

  connect(StartButton, &QPushButton::clicked, this,
          [this] { Guarded([this] { StartButtonClick(); }); });
  connect(PauseButton, &QPushButton::clicked, this,
          [this] { Guarded([this] { PauseButtonClick(); }); });
  connect(StopButton, &QPushButton::clicked, this,
          [this] { Guarded([this] { StopButtonClick(); }); });
  connect(ResumeTimer, &QTimer::timeout, this, [this] { Guarded([this] { ResumeTimerTimer(); }); });

  setMinimumSize(kMinimumWidth, kMinimumHeight);
  resize(kClientWidth, kClientHeight);
}

TMainForm::~TMainForm() {
  EndRuns();
}

void TMainForm::ShowError(const std::string& message) {
  QMessageBox::critical(this, QString::fromUtf8(kApplicationTitle),
                        QString::fromStdString(message));
}

void TMainForm::ShowNotice(const std::string& message) {
  QMessageBox::warning(this, QString::fromUtf8(kApplicationTitle), QString::fromStdString(message));
}

IOperatorDialogs::Answer TMainForm::Ask(const std::string& question, bool cancel) {
  QMessageBox box(QMessageBox::Question, QString::fromUtf8(kApplicationTitle),
                  QString::fromStdString(question), QMessageBox::NoButton, this);
  QPushButton* yes = box.addButton(QStringLiteral("Да"), QMessageBox::YesRole);
  QPushButton* no = box.addButton(QStringLiteral("Нет"), QMessageBox::NoRole);
  QPushButton* dismiss =
      cancel ? box.addButton(QStringLiteral("Отмена"), QMessageBox::RejectRole) : no;
  box.setDefaultButton(yes);
  box.setEscapeButton(dismiss);
  box.exec();
  if (box.clickedButton() == yes) return Answer::Yes;
  return box.clickedButton() == no ? Answer::No : Answer::Cancel;
}

bool TMainForm::ShowAccount(const std::string& text, Account kind) {
  const bool missing = kind == Account::Missing;
  QMessageBox box(missing                 ? QMessageBox::Warning
                  : kind == Account::News ? QMessageBox::Information
                                          : QMessageBox::Critical,
                  QString::fromUtf8(kApplicationTitle), QString::fromStdString(text),
                  QMessageBox::NoButton, this);
  QPushButton* again =
      missing ? box.addButton(QStringLiteral("Дозапросить"), QMessageBox::AcceptRole) : nullptr;
  QPushButton* close = box.addButton(QStringLiteral("Закрыть"), QMessageBox::RejectRole);
  box.setDefaultButton(again != nullptr ? again : close);
  box.setEscapeButton(close);
  box.exec();
  return again != nullptr && box.clickedButton() == again;
}

void TMainForm::PostRunEnded(const TScraper::RunSummary& summary) {
  QTimer::singleShot(0, this, [this, summary] {
    if (AfterRun(summary)) close();
  });
}

void TMainForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int w = width();
  const int h = height();
  LogsMemo->setGeometry(kMargin, kLogTop, w - 2 * kMargin, h - kLogTop - kLogBottomGap);
  ProgressBar->setGeometry(0, h - kProgressHeight, w, kProgressHeight);
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (MayClose()) {
    event->accept();
  } else {
    event->ignore();
  }
}

void TMainForm::changeEvent(QEvent* event) {
  if (event->type() == QEvent::LocaleChange) LoadLocaleConventions();
  QWidget::changeEvent(event);
}

}  // namespace orgkat
