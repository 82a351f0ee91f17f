#include "setup/ui/standard_pages.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>

#include "kel/base/stream.h"
#include "kel/ui/rich_viewer.h"
#include "setup/core/action.h"
#include "setup/core/product_info.h"
#include "setup/core/resources.h"
#include "setup/core/script.h"
#include "setup/core/session.h"
#include "setup/core/spawn_service.h"
#include "setup/core/summary.h"
#include "setup/ui/color_scheme.h"

namespace setup {

namespace {

// The home-page link of the finish page: opens its target as the user who
// started the setup when clicked.
class TWizardLinkLabel : public QLabel {
 public:
  TWizardLinkLabel(QWidget* parent, std::string target) : QLabel(parent), target_(std::move(target)) {
    setCursor(Qt::PointingHandCursor);
  }

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
      TSetupSpawnService::Spawn(target_);
  }

 private:
  std::string target_;
};

// A viewer of the pages: links open as the user who started the setup.
kel::TKELRichViewer* NewViewer(QWidget* parent) {
  auto* viewer = new kel::TKELRichViewer(parent);
  viewer->SetVerticalScrollBar(true);
  viewer->SetLinkOpener([](const std::string& target) {
    TSetupSpawnService::Spawn(target);
    return true;
  });
  return viewer;
}

}  // namespace

QImage GetImage(const TSetupResources& resources, std::string_view name) {
  const std::string bytes = resources.GetFile(name)->ReadRest();
  return QImage::fromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<int>(bytes.size()));
}

// --- TSetupPageFullScreen ------------------------------------------------------------

void TSetupPageFullScreen::CreateControls() {
  TSetupPage::CreateControls();
  picture_ = GetImage(Resources(), IsDarkTheme() ? "wizard_dark.png" : "wizard_light.png");
  text_ = AddLabel(QRect(210, 61, 400, 240), "L2", true);
  heading_ = AddLabel(QRect(210, 22, 400, 50), "L1", true);
  SetFontSize(heading_, 11);
}

void TSetupPageFullScreen::paintEvent(QPaintEvent* event) {
  TSetupPage::paintEvent(event);
  if (picture_.isNull()) return;
  const QSize size(Scale(188), Scale(435));
  if (scaledPicture_.size() != size)
    scaledPicture_ = picture_.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  QPainter painter(this);
  painter.drawImage(0, 0, scaledPicture_);
}

// --- TSetupPageLicense -----------------------------------------------------------------

void TSetupPageLicense::CreateControls() {
  TSetupPage::CreateControls();
  viewer_ = NewViewer(this);
  accept_ = AddCheckBox(QRect(0, 0, 0, 16), "L1", [this] { NotifyChanged(); });
  AlignControl(accept_, TAlign::Bottom, QMargins(28, 4, 28, 22));
  AlignControl(viewer_, TAlign::Client, QMargins(28, 22, 28, 4));
  setTabOrder(viewer_, accept_);
}

bool TSetupPageLicense::CanGoNext() const { return accept_->isChecked(); }

void TSetupPageLicense::Prepare() {
  if (const std::unique_ptr<kel::TKELStream> licence = Resources().GetLicense()) viewer_->LoadRichText(licence.get());
}

void TSetupPageLicense::showEvent(QShowEvent* event) {
  TSetupPage::showEvent(event);
  if (!accept_->isChecked()) viewer_->setFocus();
}

// --- TSetupPageReadyToInstall ------------------------------------------------------------

void TSetupPageReadyToInstall::CreateControls() {
  TSetupPage::CreateControls();
  viewer_ = NewViewer(this);
  viewer_->setObjectName("Summary");
  UpdateColors();
  viewer_->setEnabled(false);
  AlignControl(viewer_, TAlign::Client, QMargins(28, 22, 28, 22));
}

void TSetupPageReadyToInstall::UpdateColors() {
  TSetupPage::UpdateColors();
  if (!viewer_) return;
  // Neither scrolled nor selected, but as readable as the licence.
  QPalette palette = viewer_->palette();
  for (const QPalette::ColorRole role : {QPalette::Text, QPalette::Base, QPalette::WindowText})
    palette.setColor(QPalette::Disabled, role, QApplication::palette().color(QPalette::Active, role));
  viewer_->setPalette(palette);
}

void TSetupPageReadyToInstall::Prepare() {
  TSetupSummaryBuilder builder;
  Session().Product().PopulateActions([&builder](const TSetupActionClass& actionClass) {
    const std::unique_ptr<TSetupAction> action = actionClass.create();
    action->Summarize(builder);
  });
  viewer_->SetPlainText(builder.ToString());
}

// --- TSetupPageInstall ---------------------------------------------------------------------

TSetupPageInstall::TSetupPageInstall(const TSetupPageClass& pageClass, QWidget* parent)
    : TSetupPage(pageClass, parent) {
  Session().AddListener(this);
}

TSetupPageInstall::~TSetupPageInstall() { Session().RemoveListener(this); }

void TSetupPageInstall::CreateControls() {
  TSetupPage::CreateControls();
  status_ = AddLabel(QRect(30, 16, 580, 18), QString(), false);
  SetFontSize(status_, 8);
  status_->setText(GetText("L1"));
  actionBar_ = AddControl<QProgressBar>(QRect(30, 40, 580, 18), QString());
  overallBar_ = AddControl<QProgressBar>(QRect(30, 65, 580, 18), QString());
  for (QProgressBar* bar : {actionBar_, overallBar_}) {
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
  }
}

int TSetupPageInstall::GetProgress() const { return overallBar_->value(); }

void TSetupPageInstall::Prepare() { Session().Start(false); }

void TSetupPageInstall::Notify(int code, intptr_t value) {
  switch (code) {
    case neFinished:
      finished_ = true;
      break;
    case neProgress: {
      const int action = ActionPercentOf(value), overall = OverallPercentOf(value);
      if (action == actionBar_->value() && overall == overallBar_->value()) return;
      actionBar_->setValue(action);
      overallBar_->setValue(overall);
      ProcessPendingEvents();
      break;
    }
    case neStatusText:
      status_->setText(DisplayText(StatusTextOf(value)));
      ProcessPendingEvents();
      break;
    default:
      break;
  }
}

void TSetupPageInstall::ProcessPendingEvents() { QCoreApplication::processEvents(); }

// --- TSetupPageCustomFinish ------------------------------------------------------------------

void TSetupPageCustomFinish::CreateControls() {
  TSetupPageFullScreen::CreateControls();
  errors_ = new QPlainTextEdit(this);
  errors_->setReadOnly(true);
  errors_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  errors_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  errors_->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  errors_->hide();
  AlignControl(errors_, TAlign::Client, QMargins(210, 120, 20, 4));
}

bool TSetupPageCustomFinish::ShowsErrors() const { return !errors_->isHidden(); }

void TSetupPageCustomFinish::Prepare() {
  TSetupPageFullScreen::Prepare();
  const kel::TKELStringList errors = Session().Errors();
  errors_->setVisible(!errors.IsEmpty());
  if (errors.IsEmpty()) return;
  QPalette palette = Heading()->palette();
  palette.setColor(QPalette::WindowText, QColor(0xFF, 0x00, 0x00));
  Heading()->setPalette(palette);
  Heading()->setText(GetText("E1"));
  QStringList lines;
  for (int i = 0; i < errors.Count(); ++i) lines << DisplayText(errors[i]);
  errors_->setPlainText(lines.join(QLatin1Char('\n')));
  Text()->setText(GetText("E2"));
}

// --- TSetupPageFinish ------------------------------------------------------------------------

void TSetupPageFinish::CreateControls() {
  TSetupPageCustomFinish::CreateControls();
  link_ = new TWizardLinkLabel(this, Session().Product().GetHomePage());
  link_->setObjectName("L3");
  SetFontSize(link_, 8);
  QPalette palette = link_->palette();
  palette.setColor(QPalette::WindowText, QColor(0x00, 0x66, 0xCC));
  link_->setPalette(palette);
  link_->setAlignment(Qt::AlignCenter);
  link_->setFixedHeight(link_->sizeHint().height());
  AlignControl(link_, TAlign::Bottom, QMargins(210, 0, 20, 4));

  const TSetupScriptGroup& entries = Resources().Script().Actions;
  for (int i = 0; i < entries.Count(); ++i) {
    QCheckBox* box = AddCheckBox(QRect(210, 120 + 24 * i, 320, 17), QString("CB%1").arg(i + 1),
                                 [this] { StoreChoices(); });
    box->setChecked(true);
    actions_.push_back(box);
  }
}

void TSetupPageFinish::Prepare() {
  TSetupPageCustomFinish::Prepare();
  const TSetupScriptGroup& entries = Resources().Script().Actions;
  for (int i = 0; i < entries.Count(); ++i) {
    QCheckBox* box = actions_[static_cast<size_t>(i)];
    box->setText(GetText(entries[i].SourceName()));
    box->setVisible(!ShowsErrors());
  }
  StoreChoices();
}

void TSetupPageFinish::ChangeDpi(int dpi) {
  TSetupPageCustomFinish::ChangeDpi(dpi);
  link_->setFixedHeight(link_->sizeHint().height());
  LayOutAligned();
}

void TSetupPageFinish::StoreChoices() {
  const TSetupScriptGroup& entries = Resources().Script().Actions;
  for (int i = 0; i < entries.Count(); ++i)
    Settings().WriteBool("Actions", entries[i].Name, actions_[static_cast<size_t>(i)]->isChecked());
}

// --- registration ------------------------------------------------------------------------------

void RegisterStandardPages() {
  TSetupPageRegistry::Register<TSetupPageWelcome>(kSetupPageWelcome);
  TSetupPageRegistry::Register<TSetupPageLicense>(kSetupPageLicense);
  TSetupPageRegistry::Register<TSetupPageReadyToInstall>(kSetupPageReadyToInstall);
  TSetupPageRegistry::Register<TSetupPageInstall>(kSetupPageInstall);
  TSetupPageRegistry::Register<TSetupPageUninstall>(kSetupPageUninstall);
  TSetupPageRegistry::Register<TSetupPageFinish>(kSetupPageFinish);
  TSetupPageRegistry::Register<TSetupPageUninstallFinish>(kSetupPageUninstallFinish);
}

}  // namespace setup
