#include "setup/ui/wizard_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

#include "kel/ui/application_skin.h"
#include "kel/ui/design_scale.h"
#include "kel/ui/dpi.h"
#include "kel/ui/message_box.h"
#include "setup/core/product_info.h"
#include "setup/core/resources.h"
#include "setup/core/session.h"
#include "setup/ui/color_scheme.h"
#include "setup/ui/standard_pages.h"
#include "setup/ui/wizard_dispatcher.h"

namespace setup {

namespace {

QString CommonText(TSetup& session, std::string_view key) {
  return DisplayText(session.Resources().GetText("Common", key));
}

}  // namespace

// --- TWizardProgressViewInfo -------------------------------------------------------

void TWizardProgressViewInfo::Calculate(const QRect& bounds) {
  bounds_ = bounds;
  const int inset = form_.Scale(2);
  bar_ = bounds.adjusted(0, inset, 0, -inset);
  const int count = form_.Pages().Count();
  if (count > 2) segmentWidth_ = bar_.width() / (count - 1);
}

void TWizardProgressViewInfo::Paint(QPainter& painter) const {
  const TWizardColorScheme& colors = WizardColors();
  painter.fillRect(bounds_, colors.WindowBackground);
  const int index = form_.Pages().IndexOf(form_.ActivePage());
  if (index < 0) return;
  const int segmentLeft = bar_.left() + index * segmentWidth_;
  // Dash width and step are the same at every DPI.
  constexpr int kDashWidth = 3, kDashStep = 6;
  for (int dash = 0; dash < segmentWidth_ / kDashStep; ++dash)
    painter.fillRect(QRect(segmentLeft + dash * kDashStep, bar_.top(), kDashWidth, bar_.height()), colors.Accent);
  const int filledRight = segmentLeft + segmentWidth_ * form_.ActivePage()->GetProgress() / 100;
  painter.fillRect(QRect(bar_.left(), bar_.top(), filledRight - bar_.left(), bar_.height()), colors.Accent);
}

// --- TWizardFormViewInfo ---------------------------------------------------------------

TWizardFormViewInfo::TWizardFormViewInfo(TWizardForm& form)
    : TWizardCustomViewInfo(form),
      headerLight_(GetImage(TSetup::Instance().Resources(), "header.png")),
      headerDark_(GetImage(TSetup::Instance().Resources(), "header_dark.png")) {}

void TWizardFormViewInfo::Calculate(const QRect& client) {
  const auto scale = [this](int length) { return form_.Scale(length); };
  header_ = QRect(client.left(), client.top(), client.width(), scale(53));
  strip_ = QRect(client.left(), header_.bottom() + 1, client.width(), scale(10));
  footer_ = QRect(client.left(), client.bottom() + 1 - scale(44), client.width(), scale(44));
  headerText_ = header_.adjusted(scale(144), scale(6), -scale(16), -scale(12));
  page_ = QRect(client.left(), strip_.bottom() + 1 + scale(4), client.width(), 0);
  page_.setBottom(footer_.top() - 1);
  fullPage_ = QRect(client.left(), client.top(), client.width(), footer_.top() - client.top());
}

void TWizardFormViewInfo::Paint(QPainter& painter) const {
  const TWizardColorScheme& colors = WizardColors();
  painter.fillRect(form_.rect(), colors.PageBackground);

  painter.fillRect(footer_, colors.Accent);
  painter.fillRect(QRect(footer_.left(), footer_.top(), footer_.width(), 1), colors.Accent);
  painter.fillRect(QRect(footer_.left(), footer_.top() + 1, footer_.width(), 1), colors.Accent);

  const QImage& picture = IsDarkTheme() ? headerDark_ : headerLight_;
  if (scaledFrom_ != &picture || scaledHeader_.size() != header_.size()) {
    scaledHeader_ = picture.scaled(header_.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    scaledFrom_ = &picture;
  }
  painter.drawImage(header_.topLeft(), scaledHeader_);
  const int line = form_.Scale(1);
  painter.fillRect(QRect(header_.left(), header_.bottom() + 1 - line, header_.width(), line), colors.Accent);

  if (const auto* page = dynamic_cast<const TSetupPage*>(form_.ActivePage())) {
    painter.setPen(colors.Text);
    painter.setFont(TitleFont());
    const int titleHeight = painter.fontMetrics().height();
    painter.drawText(QRect(headerText_.left(), headerText_.top(), headerText_.width(), titleHeight),
                     Qt::AlignRight | Qt::AlignTop | Qt::TextSingleLine, page->Title);
    painter.setFont(DescriptionFont());
    const int descriptionHeight = painter.fontMetrics().height();
    painter.drawText(QRect(headerText_.left(), headerText_.bottom() + 1 - descriptionHeight, headerText_.width(),
                           descriptionHeight),
                     Qt::AlignRight | Qt::AlignBottom | Qt::TextSingleLine, page->Description);
  }
}

QFont TWizardFormViewInfo::TitleFont() const {
  QFont font = form_.font();
  font.setPixelSize(kel::kelPointsToPixels(11, form_.Dpi()));
  return font;
}

QFont TWizardFormViewInfo::DescriptionFont() const {
  QFont font = form_.font();
  font.setPixelSize(kel::kelPointsToPixels(8, form_.Dpi()));
  return font;
}

// --- TWizardForm ----------------------------------------------------------------------------

TWizardForm::TWizardForm(TSetup& session) : QDialog(nullptr), session_(session) {
  setObjectName("TWizardForm");
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  layoutDpi_ = Dpi();
  kel::kelSetDesignFontSize(this, 9, layoutDpi_);
  setFixedSize(Scale(640), Scale(480));
  if (const QScreen* screen = this->screen()) move(screen->availableGeometry().center() - rect().center());

  bBack_ = new QPushButton(this);
  bBack_->setObjectName("bBack");
  kel::kelSetDesignBounds(bBack_, QRect(384, 447, 121, 25), layoutDpi_);
  bNext_ = new QPushButton(this);
  bNext_->setObjectName("bNext");
  kel::kelSetDesignBounds(bNext_, QRect(511, 447, 121, 25), layoutDpi_);
  bNext_->setDefault(true);
  lbVerInfo_ = new QLabel(this);
  lbVerInfo_->setObjectName("lbVerInfo");
  kel::kelSetDesignBounds(lbVerInfo_, QRect(12, 447, 257, 25), layoutDpi_);
  connect(bBack_, &QPushButton::clicked, this, [this] { bBackClick(); });
  connect(bNext_, &QPushButton::clicked, this, [this] { bNextClick(); });

  progressViewInfo_ = std::make_unique<TWizardProgressViewInfo>(*this);
  formViewInfo_ = std::make_unique<TWizardFormViewInfo>(*this);
  UpdateTheme();
  connect(&ColorSchemeEvents(), &TWizardColorSchemeEvents::Updated, this, [this] { UpdateTheme(); });
  // A screen whose DPI changes (its settings, or the desktop's font DPI).
  const auto watchScreen = [this](QScreen* screen) {
    connect(screen, &QScreen::logicalDotsPerInchChanged, this, [this] { ChangeDpi(); });
  };
  for (QScreen* screen : QGuiApplication::screens()) watchScreen(screen);
  connect(qApp, &QGuiApplication::screenAdded, this, watchScreen);
  LayOut();

  session_.AddListener(this);
  try {
    CreatePages();
    Localize();
    UpdateButtons();
    SetActivePage(pages_.GetFirst());
  } catch (...) {
    session_.RemoveListener(this);
    throw;
  }
}

TWizardForm::~TWizardForm() {
  try {
    session_.RunPostActions();
  } catch (const std::exception&) {
    // Starting the programs is a courtesy at the end of the run; the run's
    // outcome stands.
  }
  session_.RemoveListener(this);
  activePage_ = nullptr;
  formViewInfo_.reset();
  progressViewInfo_.reset();
  pages_.Clear();
}

int TWizardForm::Dpi() const { return dpi_ > 0 ? dpi_ : logicalDpiX(); }

void TWizardForm::SetDpi(int dpi) {
  dpi_ = dpi;
  ChangeDpi();
}

void TWizardForm::ChangeDpi() {
  const int dpi = Dpi();
  if (dpi == layoutDpi_) return;
  layoutDpi_ = dpi;
  kel::kelRescaleChildren(this, dpi, Qt::FindDirectChildrenOnly);
  kel::kelSetDesignFontSize(this, 9, dpi);
  setFixedSize(Scale(640), Scale(480));
  for (int i = 0; i < pages_.Count(); ++i) pages_[i]->ChangeDpi(dpi);
  kel::TKELApplicationSkin::Instance().SetDpi(dpi);
  LayOut();
  update();
}

bool TWizardForm::event(QEvent* event) {
  const bool result = QDialog::event(event);
  if (event->type() == QEvent::ScreenChangeInternal) ChangeDpi();
  return result;
}

void TWizardForm::UpdateTheme() {
  QPalette palette = lbVerInfo_->palette();
  palette.setColor(QPalette::WindowText, WizardColors().FooterText);
  lbVerInfo_->setPalette(palette);
  for (int i = 0; i < pages_.Count(); ++i) pages_[i]->UpdateColors();
  update();
}

int TWizardForm::Scale(int length) const { return kel::kelScaleByDpi(length, Dpi()); }

void TWizardForm::CreatePages() {
  if (!session_.HasFlag(sfAUTO))
    session_.Product().PopulatePages([this](const TSetupPageClass& pageClass) { pages_.AddPage(pageClass, this); });
  const bool uninstall = session_.Mode() == TSetupMode::Uninstall;
  pages_.AddPage(uninstall ? kSetupPageUninstall : kSetupPageInstall, this);
  pages_.AddPage(uninstall ? kSetupPageUninstallFinish : kSetupPageFinish, this);
}

void TWizardForm::Localize() {
  setWindowTitle(CommonText(session_, "Caption"));
  bBack_->setText(CommonText(session_, "bBack"));
  bNext_->setText(CommonText(session_, "bNext"));
  kel::kelSetDialogButtonCaptions(session_.Resources().GetText("Common", "lOk"),
                                  session_.Resources().GetText("Common", "lCancel"));
  lbVerInfo_->setText(QString::fromStdString(session_.Product().GetFullVersion()));
}

void TWizardForm::LayOut() {
  formViewInfo_->Calculate(rect());
  progressViewInfo_->Calculate(formViewInfo_->Strip());
  if (activePage_)
    activePage_->setGeometry(dynamic_cast<TSetupPageFullScreen*>(activePage_) ? formViewInfo_->FullPageRect()
                                                                                : formViewInfo_->PageRect());
}

void TWizardForm::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  if (formViewInfo_) LayOut();
}

void TWizardForm::SetActivePage(TSetupCustomPage* page) {
  if (page == activePage_) return;
  if (activePage_) {
    // Focus does not wander to the next control when the page goes away:
    // the new page (or Next) takes it.
    if (QWidget* focused = focusWidget(); focused && activePage_->isAncestorOf(focused)) focused->clearFocus();
    activePage_->hide();
    activePage_ = nullptr;
  }
  if (page) {
    activePage_ = page;
    LayOut();
    try {
      page->Prepare();
    } catch (...) {
      page->show();
      UpdateButtons();
      update();
      throw;
    }
    page->show();
  }
  UpdateButtons();
  const QWidget* focused = focusWidget();
  if ((!focused || !focused->isVisible()) && bNext_->isVisible() && bNext_->isEnabled()) bNext_->setFocus();
  update();
}

void TWizardForm::UpdateButtons() {
  bBack_->setVisible(pages_.CanMoveBack(activePage_));
  bNext_->setEnabled(pages_.CanMoveNext(activePage_) || (activePage_ && activePage_ == pages_.GetLast()));
  // The uninstall page is an install page too: it is asked first.
  const TSetupCustomPage* next = pages_.GetNext(activePage_);
  const char* key = !next                                               ? "bFinish"
                    : dynamic_cast<const TSetupPageUninstall*>(next)    ? "bUninstall"
                    : dynamic_cast<const TSetupPageInstall*>(next)      ? "bInstall"
                                                                        : "bNext";
  bNext_->setText(CommonText(session_, key));
  if (session_.State() == TSetupState::Finished) DisableCloseCommand();
  progressViewInfo_->Calculate(formViewInfo_->Strip());
}

void TWizardForm::Navigate(TSetupCustomPage* page) {
  try {
    SetActivePage(page);
  } catch (const std::exception& e) {
    kel::kelMessageBox(this, {QApplication::applicationDisplayName().toStdString(), e.what(),
                              kel::TKELMessageIcon::Error, {kel::TKELMessageButton::Ok}, kel::TKELMessageButton::Ok});
  }
}

void TWizardForm::bBackClick() {
  if (pages_.CanMoveBack(activePage_)) Navigate(pages_.GetPrev(activePage_));
}

void TWizardForm::bNextClick() {
  if (pages_.CanMoveNext(activePage_))
    Navigate(pages_.GetNext(activePage_));
  else if (activePage_ && activePage_ == pages_.GetLast())
    close();
}

void TWizardForm::Notify(int code, intptr_t) {
  switch (code) {
    case neFinished:
      if (closing_) break;  // stopped by the close question: the window goes
      ShowNotices();
      if (session_.HasFlag(sfAUTO) && !session_.HasErrors())
        close();
      else
        bNextClick();
      break;
    case neButtonsChanged:
      UpdateButtons();
      break;
    case neRepaint:
      update(progressViewInfo_->Bounds());
      break;
    default:
      break;
  }
}

void TWizardForm::ShowNotices() {
  // What the run left undone without failing (files left out of the backup):
  // told once, before the last page.
  const kel::TKELStringList notices = session_.Notices();
  if (notices.IsEmpty()) return;
  kel::kelMessageBox(this, {windowTitle().toStdString(), notices.Join("\n"), kel::TKELMessageIcon::Warning,
                            {kel::TKELMessageButton::Ok}, kel::TKELMessageButton::Ok});
}

void TWizardForm::CloseCommand() {
  if (closeEnabled_) close();
}

void TWizardForm::reject() { CloseCommand(); }

void TWizardForm::closeEvent(QCloseEvent* event) {
  if (closing_) {
    event->accept();
    return;
  }
  if (session_.State() == TSetupState::Finished) {
    // The Close command is disabled now: only Finish closes the window.
    if (event->spontaneous() && !closeEnabled_) {
      event->ignore();
      return;
    }
    closing_ = true;
    event->accept();
    emit Closed();
    return;
  }
  event->ignore();
  const kel::TKELMessageButton answer = kel::kelMessageBox(
      this, {windowTitle().toStdString(), session_.Resources().GetText("Common", "QM"), kel::TKELMessageIcon::Question,
             {kel::TKELMessageButton::Ok, kel::TKELMessageButton::Cancel}, kel::TKELMessageButton::Cancel});
  if (answer == kel::TKELMessageButton::Ok) CloseConfirmed();
}

void TWizardForm::CloseConfirmed() {
  closing_ = true;
  session_.StopWorker();
  const auto close = [this] {
    session_.FreeWorker();
    hide();
    emit Closed();
  };
  if (auto* dispatcher = dynamic_cast<TWizardDispatcher*>(&session_.Dispatcher()))
    dispatcher->WhenIdle(close);
  else
    close();
}

void TWizardForm::DisableCloseCommand() {
  if (!closeEnabled_) return;
  closeEnabled_ = false;
  // Told to the window system without re-creating the (visible) window.
  const Qt::WindowFlags flags = windowFlags() & ~Qt::WindowCloseButtonHint;
  overrideWindowFlags(flags);
  if (QWindow* window = windowHandle()) window->setFlags(flags);
}

void TWizardForm::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  formViewInfo_->Paint(painter);
  progressViewInfo_->Paint(painter);
}

}  // namespace setup
