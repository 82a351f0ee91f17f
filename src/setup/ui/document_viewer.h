// The read-only document view of the licence and summary pages: rich text
// (RTF) or plain text, with a vertical scroll bar.
#pragma once

#include <QString>
#include <QWidget>

namespace kel {
class TKELStream;
}

class QTextBrowser;

namespace setup {

class TWizardDocumentViewer : public QWidget {
  Q_OBJECT

 public:
  explicit TWizardDocumentViewer(QWidget* parent);

  // Shows the RTF document read from the stream's position to its end.
  void LoadRichText(kel::TKELStream& rtf);
  void SetPlainText(const QString& text);
  // The text shown, without formatting.
  QString PlainText() const;

 private:
  QTextBrowser* view_;
};

}  // namespace setup
