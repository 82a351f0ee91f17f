// The wizard window: the pages of the run between a painted header (with
// the step strip under it) and a painted footer, Back and Next, the close
// question, and the reactions to the worker's notifications.
#pragma once

#include <QDialog>
#include <QImage>
#include <QRect>
#include <memory>

#include "setup/core/notify.h"
#include "setup/ui/page.h"

class QLabel;
class QPainter;
class QPushButton;

namespace setup {

class TSetup;
class TWizardForm;

class TWizardCustomViewInfo {
 public:
  explicit TWizardCustomViewInfo(TWizardForm& form) : form_(form) {}
  virtual ~TWizardCustomViewInfo() = default;

 protected:
  TWizardForm& form_;
};

// The step strip under the header: one segment per step after the first;
// the steps before the active one are filled, the active one is dashed and
// fills as its page reports progress.
class TWizardProgressViewInfo : public TWizardCustomViewInfo {
 public:
  using TWizardCustomViewInfo::TWizardCustomViewInfo;

  // Lays the strip out in `bounds` for the form's page list.
  void Calculate(const QRect& bounds);
  void Paint(QPainter& painter) const;

  const QRect& Bounds() const { return bounds_; }
  const QRect& Bar() const { return bar_; }
  int SegmentWidth() const { return segmentWidth_; }

 private:
  QRect bounds_;
  QRect bar_;
  int segmentWidth_ = 0;
};

// The window's layout rectangles and the painting of header and footer.
class TWizardFormViewInfo : public TWizardCustomViewInfo {
 public:
  // Loads the header images; fails when the packages lack them.
  explicit TWizardFormViewInfo(TWizardForm& form);

  void Calculate(const QRect& client);
  void Paint(QPainter& painter) const;

  const QRect& Header() const { return header_; }
  const QRect& Strip() const { return strip_; }
  const QRect& Footer() const { return footer_; }
  const QRect& HeaderText() const { return headerText_; }
  // Where a page goes: under the strip, or over header and strip for a
  // full-window page.
  const QRect& PageRect() const { return page_; }
  const QRect& FullPageRect() const { return fullPage_; }

 private:
  QImage headerLight_;
  QImage headerDark_;
  QRect header_, strip_, footer_, headerText_, page_, fullPage_;
};

class TWizardForm : public QDialog, public IInstallerNotify {
  Q_OBJECT

 public:
  // Builds the window for the session: registers it as a listener, creates
  // the pages, applies the language texts and shows the first page (the
  // window itself is shown by the caller).
  explicit TWizardForm(TSetup& session);
  // Starts the post-installation programs of a successful installation,
  // unregisters the window and frees the pages.
  ~TWizardForm() override;

  void SetActivePage(TSetupCustomPage* page);
  void UpdateButtons();
  TSetupCustomPage* ActivePage() const { return activePage_; }
  TSetupPageList& Pages() { return pages_; }
  const TSetupPageList& Pages() const { return pages_; }

  void Notify(int code, intptr_t value) override;

  // The window's Close command (title bar, Escape): asks first while the run
  // has not finished; refused once it has (Finish closes the window then).
  void CloseCommand();
  // Whether the Close command is offered (it is not once the run finished).
  bool CloseCommandEnabled() const { return closeEnabled_; }

  // The DPI the window lays out for: its screen's logical DPI.
  int Dpi() const;
  int Scale(int length) const;

  QPushButton* BackButton() const { return bBack_; }
  QPushButton* NextButton() const { return bNext_; }

 signals:
  // The window closed (it is hidden; the caller frees it).
  void Closed();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  // Escape in a dialog: the Close command.
  void reject() override;

 private:
  void CreatePages();
  void Localize();
  void LayOut();
  void bBackClick();
  void bNextClick();
  // Runs a navigation step; an error shows the error box and the wizard
  // stays open.
  void Navigate(TSetupCustomPage* page);
  // The session's notices in one warning box, when it has any.
  void ShowNotices();
  // Closes for good: asks a running worker to stop at once and waits for it
  // to end (never while one of its notifications is being delivered, as
  // the worker waits for that), then hides the window.
  void CloseConfirmed();
  void DisableCloseCommand();

  TSetup& session_;
  QPushButton* bBack_ = nullptr;
  QPushButton* bNext_ = nullptr;
  QLabel* lbVerInfo_ = nullptr;
  TSetupCustomPage* activePage_ = nullptr;
  TSetupPageList pages_;
  std::unique_ptr<TWizardProgressViewInfo> progressViewInfo_;
  std::unique_ptr<TWizardFormViewInfo> formViewInfo_;
  bool closeEnabled_ = true;
  bool closing_ = false;
};

}  // namespace setup
