#include "setup/ui/page.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QRadioButton>
#include <map>

#include "kel/ui/design_scale.h"
#include "kel/ui/dpi.h"
#include "setup/core/notify.h"
#include "setup/core/resources.h"
#include "setup/core/session.h"
#include "setup/ui/color_scheme.h"

namespace setup {

namespace {

std::map<std::string, TSetupPageRegistry::TFactory, std::less<>>& Factories() {
  static std::map<std::string, TSetupPageRegistry::TFactory, std::less<>> factories;
  return factories;
}

// Sets the caption of a control that has one (labels, buttons, group
// boxes, and controls with a "caption" property); false for the others.
bool SetCaption(QObject* object, const QString& text) {
  if (auto* label = qobject_cast<QLabel*>(object)) {
    label->setText(text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(object)) {
    button->setText(text);
  } else if (auto* group = qobject_cast<QGroupBox*>(object)) {
    group->setTitle(text);
  } else if (object->metaObject()->indexOfProperty("caption") >= 0) {
    object->setProperty("caption", text);
  } else {
    return false;
  }
  return true;
}

}  // namespace

QString DisplayText(const std::string& text) {
  QString result = QString::fromStdString(text);
  result.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  return result;
}

// --- TSetupCustomPage ------------------------------------------------------------

TSetupCustomPage::TSetupCustomPage(const TSetupPageClass& pageClass, QWidget* parent) : QWidget(parent) {
  setObjectName(QString::fromStdString(pageClass.PageName()));
  UpdateColors();
  hide();
}

void TSetupCustomPage::UpdateColors() {
  // The page's own background; its controls take the skin's colours.
  QPalette colors = palette();
  colors.setColor(QPalette::Window, WizardColors().PageBackground);
  setPalette(colors);
}

void TSetupCustomPage::ChangeDpi(int dpi) {
  SetDpi(dpi);
  kel::kelRescaleChildren(this, dpi);
}

void TSetupCustomPage::NotifyChanged() { Session().SendNotify(neButtonsChanged, 0); }

int TSetupCustomPage::Dpi() const { return dpi_ > 0 ? dpi_ : logicalDpiX(); }

void TSetupCustomPage::SetDpi(int dpi) { dpi_ = dpi; }

int TSetupCustomPage::Scale(int length) const { return kel::kelScaleByDpi(length, Dpi()); }

void TSetupCustomPage::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), WizardColors().PageBackground);
}

TSetup& TSetupCustomPage::Session() { return TSetup::Instance(); }

// --- TSetupPage --------------------------------------------------------------------

void TSetupPage::AfterConstruction() {
  CreateControls();
  Localize();
}

QString TSetupPage::GetText(std::string_view key) const {
  return DisplayText(Session().Resources().GetText(objectName().toStdString(), key));
}

void TSetupPage::Localize() {
  Title = GetText("Title");
  Description = GetText("Description");
  const std::function<void(QObject*)> walk = [&](QObject* parent) {
    for (QObject* child : parent->children()) {
      if (!child->objectName().isEmpty()) SetCaption(child, GetText(child->objectName().toStdString()));
      walk(child);
    }
  };
  walk(this);
}

kel::TKELIniFile& TSetupPage::Settings() { return Session().Settings(); }

TSetupResources& TSetupPage::Resources() { return Session().Resources(); }

void TSetupPage::Place(QWidget* control, const QRect& bounds, const QString& name) {
  control->setObjectName(name);
  kel::kelSetDesignBounds(control, bounds, Dpi());
}

QLabel* TSetupPage::AddLabel(const QRect& bounds, const QString& name, bool multiLine) {
  QLabel* label = AddControl<QLabel>(bounds, name);
  label->setWordWrap(multiLine);
  label->setAlignment(multiLine ? Qt::AlignLeft | Qt::AlignTop : Qt::AlignLeft | Qt::AlignVCenter);
  return label;
}

QLabel* TSetupPage::AddHeaderLabel(const QRect& bounds, const QString& name) {
  QLabel* label = AddLabel(bounds, name, false);
  SetFontSize(label, 11);
  return label;
}

QCheckBox* TSetupPage::AddCheckBox(const QRect& bounds, const QString& name, std::function<void()> onClick) {
  QCheckBox* box = AddControl<QCheckBox>(bounds, name);
  if (onClick) connect(box, &QCheckBox::clicked, this, [onClick = std::move(onClick)] { onClick(); });
  return box;
}

QRadioButton* TSetupPage::AddRadioBox(const QRect& bounds, const QString& name, std::function<void()> onClick) {
  QRadioButton* button = AddControl<QRadioButton>(bounds, name);
  if (onClick) connect(button, &QRadioButton::clicked, this, [onClick = std::move(onClick)] { onClick(); });
  return button;
}

void TSetupPage::SetFontSize(QWidget* control, int points) { kel::kelSetDesignFontSize(control, points, Dpi()); }

QFont TSetupPage::ScaledFont(int points) const {
  QFont result = font();
  result.setPixelSize(kel::kelPointsToPixels(points, Dpi()));
  return result;
}

void TSetupPage::AlignControl(QWidget* control, TAlign align, const QMargins& margins) {
  aligned_.push_back({control, align, margins});
  LayOutAligned();
}

void TSetupPage::ChangeDpi(int dpi) {
  TSetupCustomPage::ChangeDpi(dpi);
  LayOutAligned();
}

void TSetupPage::resizeEvent(QResizeEvent* event) {
  TSetupCustomPage::resizeEvent(event);
  LayOutAligned();
}

void TSetupPage::LayOutAligned() {
  // Controls freed meanwhile (a message the page no longer shows) are gone.
  std::erase_if(aligned_, [](const TAligned& item) { return item.control.isNull(); });
  QRect space = rect();
  const auto scaled = [&](const QMargins& m) {
    return QMargins(Scale(m.left()), Scale(m.top()), Scale(m.right()), Scale(m.bottom()));
  };
  for (const TAligned& item : aligned_) {
    if (item.align != TAlign::Bottom || !item.control->isVisibleTo(this)) continue;
    const QMargins margins = scaled(item.margins);
    const int height = item.control->height();
    const int top = space.bottom() + 1 - margins.bottom() - height;
    item.control->setGeometry(space.left() + margins.left(), top,
                              space.width() - margins.left() - margins.right(), height);
    space.setBottom(top - margins.top() - 1);
  }
  for (const TAligned& item : aligned_) {
    if (item.align != TAlign::Client) continue;
    item.control->setGeometry(space.marginsRemoved(scaled(item.margins)));
  }
}

// --- TSetupPageList ----------------------------------------------------------------

TSetupCustomPage* TSetupPageList::AddPage(const TSetupPageClass& pageClass, QWidget* parent) {
  std::unique_ptr<TSetupCustomPage> page = TSetupPageRegistry::Create(pageClass, parent);
  return page ? Add(std::move(page)) : nullptr;
}

TSetupCustomPage* TSetupPageList::Add(std::unique_ptr<TSetupCustomPage> page) {
  pages_.push_back(std::move(page));
  return pages_.back().get();
}

int TSetupPageList::IndexOf(const TSetupCustomPage* page) const {
  for (size_t i = 0; i < pages_.size(); ++i)
    if (pages_[i].get() == page) return static_cast<int>(i);
  return -1;
}

TSetupCustomPage* TSetupPageList::GetFirst() const { return pages_.empty() ? nullptr : pages_.front().get(); }

TSetupCustomPage* TSetupPageList::GetLast() const { return pages_.empty() ? nullptr : pages_.back().get(); }

TSetupCustomPage* TSetupPageList::GetNext(const TSetupCustomPage* page) const {
  for (int i = IndexOf(page) + 1; i < Count(); ++i)
    if ((*this)[i]->IsAvailable()) return (*this)[i];
  return nullptr;
}

TSetupCustomPage* TSetupPageList::GetPrev(const TSetupCustomPage* page) const {
  for (int i = IndexOf(page) - 1; i >= 0; --i)
    if ((*this)[i]->IsAvailable()) return (*this)[i];
  return nullptr;
}

bool TSetupPageList::CanMoveNext(const TSetupCustomPage* page) const {
  return page && page->CanGoNext() && GetNext(page);
}

bool TSetupPageList::CanMoveBack(const TSetupCustomPage* page) const {
  return page && page->CanGoBack() && GetPrev(page);
}

// --- TSetupPageRegistry ------------------------------------------------------------

void TSetupPageRegistry::Register(const TSetupPageClass& pageClass, TFactory factory) {
  Factories()[std::string(pageClass.ClassName())] = factory;
}

std::unique_ptr<TSetupCustomPage> TSetupPageRegistry::Create(const TSetupPageClass& pageClass, QWidget* parent) {
  const auto found = Factories().find(pageClass.ClassName());
  return found == Factories().end() ? nullptr : found->second(pageClass, parent);
}

}  // namespace setup
