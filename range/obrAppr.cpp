#include "obrAppr.h"

#include <algorithm>

#include <QFocusEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPalette>
#include <QScreen>

#include "HandlerGuard.h"
#include "KeyAdapter.h"
#include "RangeDeviation.h"
#include "RangeInput.h"

TFormNewRange::TFormNewRange(ui::MessageService& messages, QWidget* parent)
    : QDialog(parent), msg_(messages), calc_(messages) {
  setupUi(this);
  FormCreate();

  for (QLineEdit* e : {EditTN, EditTK})
    ui::ConnectGuarded(e, &QLineEdit::textChanged, this, msg_, [this] { EditTNChange(); });
  for (QLineEdit* e : {EditTN, EditTK}) e->installEventFilter(this);
  for (QLineEdit* e : ResultEdits) e->installEventFilter(this);
  Button1->installEventFilter(this);
  ui::ConnectGuarded(Button1, &QPushButton::clicked, this, msg_, [this] { Button1Click(); });
}

void TFormNewRange::FormCreate() {
  ResultEdits = {Edit1, Edit2, Edit3, Edit4, Edit5, Edit6, Edit7, Edit8, Edit9, Edit10};
  for (QLineEdit* e : ResultEdits) e->setText(QStringLiteral("00"));
  NeedRecalc = 1;
}

void TFormNewRange::FormShow() {
  Edit10->setText(QStringLiteral("8191"));
  StRez->clear();
}

void TFormNewRange::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect r = frameGeometry();
    r.moveCenter(screen->availableGeometry().center());
    move(r.topLeft());
  }
  FormShow();
}

void TFormNewRange::SetSensorText(const QString& text) { StTipD->setText(text); }

void TFormNewRange::SetRange(double start, double end) {
  EditTN->setText(QString::fromStdString(pmrange::FormatRangeValue(start)));
  EditTK->setText(QString::fromStdString(pmrange::FormatRangeValue(end)));
  RangeStart = start;
  RangeEnd = end;
}

void TFormNewRange::SetNodeCodes(const std::array<double, 8>& codes) {
  NodeCodes = codes;
  // Codes from elsewhere than the last calculation: its picture no longer applies.
  PlotDev->Clear();
  StDev->clear();
  ShowTableFile();
  for (int k = 0; k < 8; ++k) ResultEdits[k + 1]->setText(QString::fromStdString(pmrange::FormatNodeCode(codes[k])));
}

void TFormNewRange::SetStdRanges(std::span<const pmdev::RangeRow> rows) {
  StdRanges = rows;
  StdRangeCount = static_cast<int>(rows.size());
}

void TFormNewRange::EditTNChange() { NeedRecalc = 1; }

void TFormNewRange::SetColour(QLineEdit* edit, const QColor& colour) {
  QPalette p = edit->palette();
  p.setColor(QPalette::Base, colour);
  edit->setPalette(p);
}

void TFormNewRange::InputError(QLineEdit* edit) {
  SetColour(edit, Qt::red);
  msg_.Beep();
  msg_.Error(" Ошибка ввода ", "Ошибка");
  SetColour(edit, Qt::white);
  edit->setText(QStringLiteral("00"));
}

void TFormNewRange::EditTNExit(QLineEdit* edit) {
  if (edit != EditTN && edit != EditTK) return;
  double& accepted = edit == EditTN ? RangeStart : RangeEnd;
  if (auto value = pmrange::CheckRangeText(edit->text().toStdString())) {
    accepted = *value;
    return;
  }
  InputError(edit);
  edit->setText(QString::fromStdString(pmrange::FormatRangeValue(accepted)));
}

bool TFormNewRange::EditTNKeyDown(QLineEdit* edit, int virtualKey, bool shift) {
  switch (pmrange::RangeKeyFilter(virtualKey, shift, edit->text().isEmpty())) {
    case pmrange::KeyResult::Accepted:
      return true;
    case pmrange::KeyResult::Enter:
      focusNextChild();
      return false;
    case pmrange::KeyResult::Rejected:
      InputError(edit);
      return false;
  }
  return false;
}

bool TFormNewRange::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Button1 && event->type() == QEvent::KeyPress) {
    // Enter on the focused button runs the calculation, as Space does.
    const int k = static_cast<QKeyEvent*>(event)->key();
    if (k != Qt::Key_Return && k != Qt::Key_Enter) return false;
    ui::RunGuarded(msg_, [this] { Button1Click(); });
    return true;
  }
  auto* edit = qobject_cast<QLineEdit*>(watched);
  if (!edit) return QDialog::eventFilter(watched, event);

  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    // Tab and Shift+Tab move the focus along the tab order.
    if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) return false;
    const ui::VirtualKey vk = ui::ToVirtualKey(*key);
    bool reaches = false;
    ui::RunGuarded(msg_, [&] { reaches = EditTNKeyDown(edit, vk.code, vk.shift); });
    if (!reaches) return true;  // the key never reaches the edit
    if (vk.code == ui::vk::Decimal) {
      edit->insert(QStringLiteral(","));  // the keypad point types the decimal comma
      return true;
    }
    return false;
  }
  if (event->type() == QEvent::FocusOut && !suppressExit_) {
    // A message box or another window taking the activation is no exit.
    const auto reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
      ui::RunGuarded(msg_, [this, edit] { EditTNExit(edit); });
  }
  return QDialog::eventFilter(watched, event);
}

void TFormNewRange::MoveFocusToFirst() {
  QWidget* old = focusWidget();
  if (old == EditTN) return;
  suppressExit_ = true;
  EditTN->setFocus(Qt::OtherFocusReason);
  suppressExit_ = false;
  if (auto* edit = qobject_cast<QLineEdit*>(old)) EditTNExit(edit);
}

void TFormNewRange::Button1Click() {
  MoveFocusToFirst();
  const int count = std::min<int>(StdRangeCount < 0 ? 0 : StdRangeCount, static_cast<int>(StdRanges.size()));
  auto codes = calc_.CalcNonStandardRange(StTipD->text().toStdString(), RangeStart, RangeEnd,
                                          StdRanges.first(static_cast<std::size_t>(count)));
  if (!codes) {
    NeedRecalc = 1;
    ShowTableFile();
    return;
  }
  NodeCodes = *codes;
  QStringList lines;
  for (int k = 0; k < 8; ++k) {
    const QString text = QString::fromStdString(pmrange::FormatNodeCode(NodeCodes[k]));
    ResultEdits[k + 1]->setText(text);
    lines << text;
  }
  Edit10->setText(QStringLiteral("8191"));
  StRez->setText(lines.join(QLatin1Char('\n')));
  NeedRecalc = 0;
  ShowDeviation();
  ShowTableFile(calc_.TablePath());
}

void TFormNewRange::ShowTableFile(const std::string& path) {
  const QString full = path.empty() ? QString() : QStringLiteral("Таблица НСХ: ") + QString::fromStdString(path);
  // A path too long for the line keeps its start and its file name.
  StTable->setText(StTable->fontMetrics().elidedText(full, Qt::ElideMiddle, StTable->width()));
  StTable->setToolTip(full);
}

void TFormNewRange::ShowDeviation() {
  const auto curve = pmrange::CharacteristicDeviation(calc_, pmrange::WrittenCodes(NodeCodes));
  PlotDev->SetCurve(curve);
  StDev->setText(QString::fromStdString(pmrange::DeviationText(curve)));
}

int TFormNewRange::CloseResult() {
  MoveFocusToFirst();
  int result = kResultProgram;
  if (EditTN->text().isEmpty()) result = kResultNothing;
  if (EditTK->text().isEmpty()) result = kResultNothing;
  if (NeedRecalc == 1) result = kResultNothing;
  return result;
}

void TFormNewRange::reject() {
  int result = kResultNothing;
  ui::RunGuarded(msg_, [&] { result = CloseResult(); });
  done(result);
}
