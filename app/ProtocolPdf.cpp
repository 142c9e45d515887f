#include "ProtocolPdf.h"

#include <QBuffer>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>

#include "FileAccess.h"

std::string WriteProtocolPdf(const std::string& path, const std::string& html, const std::string& creator,
                             const std::string& title) {
  QByteArray bytes;
  {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
    writer.setTitle(QString::fromStdString(title));
    writer.setCreator(QString::fromStdString(creator));
    writer.setResolution(300);
    QTextDocument document;
    document.setHtml(QString::fromStdString(html));
    document.print(&writer);
  }
  return pmset::WriteFileAtomically(path, bytes.toStdString());
}
