#include "HelpWindow.h"

#include <QAbstractTextDocumentLayout>
#include <QFileInfo>
#include <QKeyEvent>
#include <QScrollBar>
#include <QStyle>
#include <QTextBlock>

#include "GuidePage.h"
#include "HandlerGuard.h"

namespace {

// Where a contents item leads.
constexpr int kAnchorRole = Qt::UserRole;
constexpr int kPositionRole = Qt::UserRole + 1;

QUrl PageOf(const QUrl& url) { return url.adjusted(QUrl::RemoveFragment); }

}  // namespace

HelpWindow::HelpWindow(const pmhelp::Places& places, ui::MessageService& messages, QWidget* parent)
    : QDialog(parent), m_places(places), m_messages(messages) {
  ui.setupUi(this);
  // Read beside the main window while the operator goes on working there.
  setModal(false);
  ui.ButBack->setIcon(style()->standardIcon(QStyle::SP_ArrowBack));
  ui.ButForward->setIcon(style()->standardIcon(QStyle::SP_ArrowForward));
  ui.SplitMain->setStretchFactor(1, 1);
  // Wide enough for the main window's screenshots beside the contents.
  ui.SplitMain->setSizes({260, 940});
  ui.EdFind->installEventFilter(this);

  QTextBrowser* browser = ui.Browser;
  connect(browser, &QTextBrowser::backwardAvailable, ui.ButBack, &QWidget::setEnabled);
  connect(browser, &QTextBrowser::forwardAvailable, ui.ButForward, &QWidget::setEnabled);
  connect(browser, &QTextBrowser::sourceChanged, this, [this](const QUrl& url) { FillContents(url); });
  ui::ConnectGuarded(ui.ButBack, &QToolButton::clicked, this, m_messages, [browser] { browser->backward(); });
  ui::ConnectGuarded(ui.ButForward, &QToolButton::clicked, this, m_messages, [browser] { browser->forward(); });
  ui::ConnectGuarded(ui.ButBrowser, &QToolButton::clicked, this, m_messages, [this] { BrowserClick(); });
  ui::ConnectGuarded(ui.EdFind, &QLineEdit::textEdited, this, m_messages, [this] { ui.StFind->clear(); });
  connect(browser, &QTextBrowser::anchorClicked, this,
          [this](const QUrl& link) { ui::RunGuarded(m_messages, [&] { LinkClick(link); }); });
  connect(ui.TreeContents, &QTreeWidget::itemClicked, this,
          [this](QTreeWidgetItem* item) { ui::RunGuarded(m_messages, [&] { ContentsClick(item); }); });
}

void HelpWindow::ShowPage(const QString& path) {
  // Pictures and links of the page are found relative to its source.
  ui.Browser->setSource(QUrl::fromLocalFile(path));
  ui.Browser->clearHistory();
}

QString HelpWindow::PageShown() const { return ui.Browser->source().toLocalFile(); }

void HelpWindow::FillContents(const QUrl& source) {
  const QUrl page = PageOf(source);
  if (page == m_contentsOf) return;
  m_contentsOf = page;
  QTreeWidget* tree = ui.TreeContents;
  tree->clear();
  QTreeWidgetItem* chapter = nullptr;
  for (const pmhelp::Heading& h : pmhelp::Headings(*ui.Browser->document())) {
    auto* item = h.level == 3 && chapter ? new QTreeWidgetItem(chapter) : new QTreeWidgetItem(tree);
    if (h.level != 3) chapter = item;
    item->setText(0, h.text);
    item->setToolTip(0, h.text);
    item->setData(0, kAnchorRole, h.anchor);
    item->setData(0, kPositionRole, h.position);
  }
}

void HelpWindow::LinkClick(const QUrl& link) {
  const QUrl target = ui.Browser->source().resolved(link);
  if (!pmhelp::ShownInWindow(target)) {
    if (!m_places.openLink || !m_places.openLink(target))
      m_messages.Warning("Не удалось открыть ссылку в программе просмотра:\n" + target.toString().toStdString());
    return;
  }
  if (!QFileInfo(target.toLocalFile()).isFile()) {
    m_messages.Warning("Страница руководства не найдена:\n" + target.toLocalFile().toStdString());
    return;
  }
  ui.Browser->setSource(target);
}

void HelpWindow::ContentsClick(QTreeWidgetItem* item) {
  const QString anchor = item->data(0, kAnchorRole).toString();
  if (!anchor.isEmpty()) {
    // As a link to the heading would: Back returns from it.
    QUrl target = PageOf(ui.Browser->source());
    target.setFragment(anchor);
    ui.Browser->setSource(target);
    return;
  }
  const QTextBlock block = ui.Browser->document()->findBlock(item->data(0, kPositionRole).toInt());
  ui.Browser->setTextCursor(QTextCursor(block));
  const QRectF at = ui.Browser->document()->documentLayout()->blockBoundingRect(block);
  ui.Browser->verticalScrollBar()->setValue(static_cast<int>(at.top()));
}

void HelpWindow::FindClick(bool backward) {
  const QString text = ui.EdFind->text();
  ui.StFind->clear();
  if (text.isEmpty()) return;
  const QTextCursor found = pmhelp::FindWrapping(*ui.Browser->document(), text, ui.Browser->textCursor(), backward);
  if (found.isNull()) {
    ui.StFind->setText(QStringLiteral("Не найдено"));
    return;
  }
  ui.Browser->setTextCursor(found);
  ui.Browser->ensureCursorVisible();
}

void HelpWindow::BrowserClick() {
  const QString path = PageShown();
  if (path.isEmpty()) return;
  if (!m_places.open || !m_places.open(path))
    m_messages.Warning("Не удалось открыть руководство пользователя в программе просмотра.\n"
                       "Откройте файл вручную:\n" + path.toStdString());
}

bool HelpWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ui.EdFind && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      const bool backward = key->modifiers().testFlag(Qt::ShiftModifier);
      ui::RunGuarded(m_messages, [&] { FindClick(backward); });
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}
