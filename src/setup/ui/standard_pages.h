// The pages every wizard uses, whatever the product: welcome, licence,
// summary, the progress pages of installation and uninstallation, and the
// two finish pages.
#pragma once

#include <QImage>
#include <string_view>
#include <vector>

#include "setup/core/notify.h"
#include "setup/ui/page.h"

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;

namespace kel {
class TKELRichViewer;
}

namespace setup {

// A full-window page: a side picture on the left (the theme's
// "wizard_light.png" or "wizard_dark.png", chosen when the page is made and
// kept when the theme changes; scaled smoothly with the DPI), a heading "L1"
// and a text "L2".
class TSetupPageFullScreen : public TSetupPage {
  Q_OBJECT

 public:
  using TSetupPage::TSetupPage;

 protected:
  void CreateControls() override;
  void paintEvent(QPaintEvent* event) override;

  QLabel* Heading() const { return heading_; }
  QLabel* Text() const { return text_; }

 private:
  QImage picture_;
  QImage scaledPicture_;  // the picture at the size it was last painted
  QLabel* text_ = nullptr;
  QLabel* heading_ = nullptr;
};

class TSetupPageWelcome : public TSetupPageFullScreen {
  Q_OBJECT

 public:
  using TSetupPageFullScreen::TSetupPageFullScreen;
};

// The licence of the setup language and the box that accepts it; Next only
// once it is ticked, never Back.
class TSetupPageLicense : public TSetupPage {
  Q_OBJECT

 public:
  using TSetupPage::TSetupPage;

  bool CanGoBack() const override { return false; }
  bool CanGoNext() const override;
  // Loads the licence into the viewer (it keeps what it showed when the
  // language has none).
  void Prepare() override;

 protected:
  void CreateControls() override;
  void showEvent(QShowEvent* event) override;

 private:
  kel::TKELRichViewer* viewer_ = nullptr;
  QCheckBox* accept_ = nullptr;
};

// What the run will do: each action's summary, rebuilt at every visit.
class TSetupPageReadyToInstall : public TSetupPage {
  Q_OBJECT

 public:
  using TSetupPage::TSetupPage;

  void Prepare() override;
  // The viewer, disabled, keeps the colours of an enabled one of the theme.
  void UpdateColors() override;

 protected:
  void CreateControls() override;

 private:
  kel::TKELRichViewer* viewer_ = nullptr;
};

// Starts the worker when it becomes active and shows its progress: the
// status text, the current action's bar and the overall bar.
class TSetupPageInstall : public TSetupPage, public IInstallerNotify {
  Q_OBJECT

 public:
  // Registers the page with the session as a listener (and removes it when
  // it goes), so it learns of the end of the run before the wizard does.
  TSetupPageInstall(const TSetupPageClass& pageClass, QWidget* parent);
  ~TSetupPageInstall() override;

  bool CanGoBack() const override { return false; }
  bool CanGoNext() const override { return finished_; }
  int GetProgress() const override;
  // Starts the run (once: the session ignores later starts).
  void Prepare() override;
  void Notify(int code, intptr_t value) override;

 protected:
  void CreateControls() override;
  // Lets the window react while the worker waits (after a visible change).
  virtual void ProcessPendingEvents();

 private:
  QLabel* status_ = nullptr;
  QProgressBar* actionBar_ = nullptr;
  QProgressBar* overallBar_ = nullptr;
  bool finished_ = false;
};

class TSetupPageUninstall : public TSetupPageInstall {
  Q_OBJECT

 public:
  using TSetupPageInstall::TSetupPageInstall;
};

// The end of the run: its texts when all went well; otherwise the heading
// "E1" in red, the text "E2" and the error messages.
class TSetupPageCustomFinish : public TSetupPageFullScreen {
  Q_OBJECT

 public:
  using TSetupPageFullScreen::TSetupPageFullScreen;

  bool CanGoBack() const override { return false; }
  void Prepare() override;

 protected:
  void CreateControls() override;
  bool ShowsErrors() const;

 private:
  QPlainTextEdit* errors_ = nullptr;
};

// The installation's end: the programs to start when the wizard closes (one
// check box per entry of the script's Actions) and the home-page link.
class TSetupPageFinish : public TSetupPageCustomFinish {
  Q_OBJECT

 public:
  using TSetupPageCustomFinish::TSetupPageCustomFinish;

  void Prepare() override;
  void ChangeDpi(int dpi) override;

 protected:
  void CreateControls() override;

 private:
  // Writes [Actions] <entry name> = whether its box is ticked.
  void StoreChoices();

  std::vector<QCheckBox*> actions_;
  QLabel* link_ = nullptr;
};

class TSetupPageUninstallFinish : public TSetupPageCustomFinish {
  Q_OBJECT

 public:
  using TSetupPageCustomFinish::TSetupPageCustomFinish;
};

// Registers the pages above with the page registry.
void RegisterStandardPages();

// An image from the setup's packages (GetFile); a file that is no readable
// image gives a null image. Fails as GetFile does when the file is missing.
QImage GetImage(const TSetupResources& resources, std::string_view name);

}  // namespace setup
