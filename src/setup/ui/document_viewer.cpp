#include "setup/ui/document_viewer.h"

#include <QTextBrowser>
#include <QVBoxLayout>

#include "kel/base/stream.h"

namespace setup {

TWizardDocumentViewer::TWizardDocumentViewer(QWidget* parent) : QWidget(parent), view_(new QTextBrowser(this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view_);
  view_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setFocusProxy(view_);
}

void TWizardDocumentViewer::LoadRichText(kel::TKELStream& rtf) {
  // Placeholder until the toolkit's rich viewer is merged.
  view_->setPlainText(QString::fromStdString(rtf.ReadRest()));
}

void TWizardDocumentViewer::SetPlainText(const QString& text) { view_->setPlainText(text); }

QString TWizardDocumentViewer::PlainText() const { return view_->toPlainText(); }

}  // namespace setup
