// The page framework: the base classes of every wizard page and the page
// list. A page answers the wizard's questions (may the user go back or on, is
// the page part of this run, how far is its step), reads and writes the
// session's option store, and asks the session to tell the wizard when
// something that decides its buttons changed (NotifyChanged).
#pragma once

#include <QMargins>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "setup/core/page_class.h"

class QCheckBox;
class QLabel;
class QRadioButton;

namespace kel {
class TKELIniFile;
}

namespace setup {

class TSetup;
class TSetupResources;

class TSetupCustomPage : public QWidget {
  Q_OBJECT

 public:
  // Creates the page hidden on `parent`, named after its class
  // ("TSetupPageWelcome" is "PageWelcome", also its language section).
  TSetupCustomPage(const TSetupPageClass& pageClass, QWidget* parent);

  // How far the page's step is, 0 to 100 (the step strip).
  virtual int GetProgress() const { return 0; }
  virtual bool CanGoBack() const { return true; }
  virtual bool CanGoNext() const { return true; }
  // Whether the page is part of the run now; asked at every step.
  virtual bool IsAvailable() const { return true; }
  // Each time the page becomes active, before it is shown.
  virtual void Prepare() {}
  // Runs right after construction (the page registry calls it), where
  // overrides are reached: TSetupPage builds its controls and applies its
  // language texts here.
  virtual void AfterConstruction() {}

  // Has the session tell its listeners that the buttons may have changed
  // (neButtonsChanged); they have run when this returns.
  void NotifyChanged();

  // The DPI the page lays out for: its screen's logical DPI unless set.
  int Dpi() const;
  void SetDpi(int dpi);
  // A length designed at 96 DPI, at the page's DPI.
  int Scale(int length) const;
  // Lays the page out again for another DPI (the window moved to another
  // screen): the controls' bounds and font sizes as designed, at `dpi`.
  virtual void ChangeDpi(int dpi);
  // Takes the colours of the scheme in force again (the theme changed).
  virtual void UpdateColors();

 protected:
  // The page background of the colour scheme.
  void paintEvent(QPaintEvent* event) override;
  static TSetup& Session();

 private:
  int dpi_ = 0;
};

class TSetupPage : public TSetupCustomPage {
  Q_OBJECT

 public:
  using TSetupCustomPage::TSetupCustomPage;

  // The header texts (language keys "Title" and "Description").
  QString Title;
  QString Description;

  void AfterConstruction() override;
  // The language text of the page's section; empty when missing. Line breaks
  // are LF.
  QString GetText(std::string_view key) const;

 protected:
  // Builds the page's controls with the Add... helpers; overrides call the
  // inherited one first.
  virtual void CreateControls() {}
  // Title and Description, then the caption of every named control (its
  // name is its language key), depth first in creation order. Overrides
  // call the inherited one first.
  virtual void Localize();

  static kel::TKELIniFile& Settings();
  static TSetupResources& Resources();

  // A control of type T on the page with bounds designed at 96 DPI
  // (scaled to the page's DPI) and a name, which is its language key.
  template <typename T>
  T* AddControl(const QRect& bounds, const QString& name) {
    T* control = new T(this);
    Place(control, bounds, name);
    return control;
  }
  QLabel* AddLabel(const QRect& bounds, const QString& name, bool multiLine);
  // A single-line label in the heading font (size 11).
  QLabel* AddHeaderLabel(const QRect& bounds, const QString& name);
  QCheckBox* AddCheckBox(const QRect& bounds, const QString& name, std::function<void()> onClick);
  QRadioButton* AddRadioBox(const QRect& bounds, const QString& name, std::function<void()> onClick);

  // Gives a control the page's font (the desktop's sans-serif family) at
  // `points`, scaled to the page's DPI now and after a change of DPI.
  void SetFontSize(QWidget* control, int points);
  // The page's font at `points`, scaled to the page's DPI now (a control
  // given it keeps that size when the DPI changes: SetFontSize follows).
  QFont ScaledFont(int points) const;

  // Aligns a control within the page whenever the page is laid out, with
  // margins designed at 96 DPI: bottom-aligned controls keep their height
  // and are stacked from the bottom up in the order aligned; the client
  // control fills what they leave. Margins of neighbours add up. A control
  // that is freed leaves the alignment.
  enum class TAlign { Bottom, Client };
  void AlignControl(QWidget* control, TAlign align, const QMargins& margins);
  // Places the aligned controls again (after a control changed its height).
  void LayOutAligned();

  void ChangeDpi(int dpi) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Place(QWidget* control, const QRect& bounds, const QString& name);

  struct TAligned {
    QPointer<QWidget> control;
    TAlign align;
    QMargins margins;
  };
  std::vector<TAligned> aligned_;
};

// The pages of a wizard, in order; it owns them. A page's position is its
// step number on the step strip.
class TSetupPageList {
 public:
  TSetupPageList() = default;
  TSetupPageList(const TSetupPageList&) = delete;
  TSetupPageList& operator=(const TSetupPageList&) = delete;

  // Constructs a page of the class on `parent` through the page registry
  // and appends it; nullptr (nothing appended) for a class that is not a
  // page class.
  TSetupCustomPage* AddPage(const TSetupPageClass& pageClass, QWidget* parent);
  TSetupCustomPage* Add(std::unique_ptr<TSetupCustomPage> page);
  void Clear() { pages_.clear(); }

  int Count() const { return static_cast<int>(pages_.size()); }
  TSetupCustomPage* operator[](int index) const { return pages_[static_cast<size_t>(index)].get(); }
  // -1 for a page not in the list.
  int IndexOf(const TSetupCustomPage* page) const;

  // Whether available or not; nullptr for an empty list.
  TSetupCustomPage* GetFirst() const;
  TSetupCustomPage* GetLast() const;
  // The nearest later (earlier) available page; nullptr when none. A page
  // not in the list counts as standing before the first.
  TSetupCustomPage* GetNext(const TSetupCustomPage* page) const;
  TSetupCustomPage* GetPrev(const TSetupCustomPage* page) const;
  // A page is given, it allows the move, and a page to move to exists.
  bool CanMoveNext(const TSetupCustomPage* page) const;
  bool CanMoveBack(const TSetupCustomPage* page) const;

 private:
  std::vector<std::unique_ptr<TSetupCustomPage>> pages_;
};

// Page classes and the constructors of their pages. The wizard's library
// registers the standard pages, a product's user-interface library its own.
class TSetupPageRegistry {
 public:
  using TFactory = std::unique_ptr<TSetupCustomPage> (*)(const TSetupPageClass&, QWidget* parent);

  static void Register(const TSetupPageClass& pageClass, TFactory factory);
  // Registers Page, constructed as Page(pageClass, parent) and then
  // completed with AfterConstruction.
  template <typename Page>
  static void Register(const TSetupPageClass& pageClass) {
    Register(pageClass, [](const TSetupPageClass& cls, QWidget* parent) -> std::unique_ptr<TSetupCustomPage> {
      auto page = std::make_unique<Page>(cls, parent);
      page->AfterConstruction();
      return page;
    });
  }
  // A new page of the class; nullptr when none is registered for it.
  static std::unique_ptr<TSetupCustomPage> Create(const TSetupPageClass& pageClass, QWidget* parent);
};

// A language text for display: CR LF line breaks become LF.
QString DisplayText(const std::string& text);

}  // namespace setup
