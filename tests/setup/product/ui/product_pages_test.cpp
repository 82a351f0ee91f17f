// The ORVI product's wizard pages on the offscreen platform: the setup
// page's states for the folder typed or browsed to, the move between the
// program folder and the desktop, the add-ons page of a Russian run, the
// integration and uninstall choices.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "kel/base/file_system.h"
#include "kel/ui/formatted_label.h"
#include "kel/ui/validation_label.h"
#include "setup/product/product_info_orvi.h"
#include "setup/product/ui/product_pages.h"
#include "setup/ui/wizard_fixture.h"
#include "support/temp_dir.h"

namespace orvi::test {
namespace {

std::string PagesLng() {
  std::string lng = WizardEnglishLng();
  lng.replace(lng.find("lOk=lOk\r\n"), 9, "lOk=lOk\r\nlBrowse=Pick a folder\r\nlNewFolder=Fresh folder\r\n");
  return lng +
         "[PageSetup]\r\nLB1=Folder\r\nBrowse=Browse...\r\nCB1=Update\r\nCB4=Back up\r\nLB2=Mode\r\nCB3=Portable\r\n"
         "CB3Hint=Hint\r\nCB2=Normal\r\nW1=Will update\r\nW3=Will replace\r\n"
         "[PageAddons]\r\nTitle=Add-on\r\nL0=Add-on heading\r\nCB1=Viewer\r\nCB2=Extensions\r\nCB3=Shortcuts\r\n"
         "L1=[B]%s[/B] is free\r\nL2=Its [URL=%s]licence[/URL] and [URL=%s]privacy[/URL]\r\n"
         "[PageIntegration]\r\nLB1=Shortcuts\r\nCB1=Desktop\r\nCB2=Menu\r\nLB2=Integration\r\nCB4=Player\r\n"
         "CB4Hint=Hint\r\nCB3=Files\r\nCB5=Menu entries\r\n"
         "[PageUninstallParams]\r\nCB1=Backups\r\nCB2=Content\r\n";
}

std::string OrviIni(int version) { return "[System]\r\nVersion=" + std::to_string(version) + "\r\n"; }

class ProductPagesTest : public WizardTest {
 protected:
  static void SetUpTestSuite() {
    WizardTest::SetUpTestSuite();
    setup::RegisterProductPagesORVI();
  }

  // A session of the ORVI product in `language` ("en", "ru").
  setup::TSetup& OpenOrvi(const std::string& params = "", const std::string& language = "en",
                          bool uninstaller = false) {
    wizard_.reset();
    fixture_.reset();
    ScopedEnv languageVariable("LANGUAGE", language.c_str());
    ScopedEnv lang("LANG", "C");
    SessionSpec spec;
    spec.params = params;
    spec.product = [] { return std::unique_ptr<setup::TSetupProductInfo>(std::make_unique<setup::TProductInfoORVI>()); };
    spec.englishLng = PagesLng();
    spec.setupFiles = WizardPictures();
    spec.setupFiles.push_back({"License_EN.rtf", "{\\rtf1\\ansi The licence text.\\par}"});
    spec.setupFiles.push_back({"Russian.lng", "[File]\r\nName=Russian\r\nLangId=1049\r\nFamily=RU\r\n"});
    spec.setupFiles.push_back({"addons.ini", "P4=AddonSetup\r\nI0=addon.png\r\nL0=Tag Studio\r\n"
                                             "L1=https://example.test/licence\r\nL2=https://example.test/privacy\r\n"});
    spec.setupFiles.push_back({"addon.png", Png(40, 30, Qt::red)});
    if (uninstaller) spec.productFiles = {{"Uninstall.ini", "[Uninstall]\r\n"}};
    fixture_ = std::make_unique<SessionFixture>(spec);
    Session().SetUserInterface(std::make_unique<setup::TWizardDispatcher>(), std::make_unique<setup::TWizardPrompt>());
    return Session();
  }

  template <typename Page>
  std::unique_ptr<Page> Make(const setup::TSetupPageClass& pageClass) {
    std::unique_ptr<setup::TSetupCustomPage> page = setup::TSetupPageRegistry::Create(pageClass, nullptr);
    page->resize(640, 363);
    page->show();
    page->Prepare();
    return std::unique_ptr<Page>(dynamic_cast<Page*>(page.release()));
  }

  static void Type(QWidget& page, const QString& text) {
    auto* edit = page.findChild<QLineEdit*>("PathEdit");
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
  }
  static QString Field(QWidget& page) { return page.findChild<QLineEdit*>("PathEdit")->text(); }
  template <typename Box = QAbstractButton>
  static Box& Control(QWidget& page, const char* name) {
    return *page.findChild<Box*>(name);
  }
  static QStringList WarningNames(const setup::TSetupPageSetup& page) {
    QStringList names;
    for (const kel::TKELValidationLabel* warning : page.Warnings()) names << warning->objectName();
    return names;
  }
  std::string Dest() { return Session().DestPath(); }
};

// Typing a folder: what the installation found there means for the page.
TEST_F(ProductPagesTest, SetupPageFollowsTheFolderTyped) {
  OpenOrvi();
  Machine().WriteFile("/srv/Old/ORVI.ini", OrviIni(5010));
  Machine().WriteFile("/srv/Ancient/ORVI.ini", OrviIni(3000));
  Machine().WriteFile("/srv/Portable/ORVI.ini", OrviIni(4500) + "UserMode=0\r\n");
  auto page = Make<setup::TSetupPageSetup>(setup::kSetupPageSetup);
  EXPECT_EQ(Field(*page).toStdString(), Machine() / "/opt/TestProduct/");

  const struct {
    const char* folder;
    bool updateShown, backupShown, modesEnabled, portable;
    QStringList warnings;
  } rows[] = {
      {"/srv/Old", true, true, false, false, {"W1"}},
      {"/srv/Ancient", false, false, true, false, {"W3"}},
      {"/srv/New", false, false, true, false, {}},
      {"/srv/Portable", true, true, false, true, {"W1"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.folder);
    Type(*page, row.folder);
    EXPECT_EQ(Field(*page), row.folder) << "the field keeps what is typed";
    EXPECT_EQ(Dest(), Machine() / row.folder + "/");
    EXPECT_EQ(Control(*page, "CB1").isVisible(), row.updateShown);
    EXPECT_EQ(Control(*page, "CB1").isChecked(), row.updateShown);
    EXPECT_EQ(Control(*page, "CB4").isVisible(), row.backupShown);
    EXPECT_EQ(Control(*page, "CB3").isEnabled(), row.modesEnabled);
    EXPECT_EQ(Control(*page, "CB2").isEnabled(), row.modesEnabled);
    EXPECT_EQ(Control(*page, "CB3").isChecked(), row.portable);
    EXPECT_EQ(WarningNames(*page), row.warnings);
    for (const kel::TKELValidationLabel* warning : page->Warnings()) {
      EXPECT_EQ(warning->text(), warning->objectName() == "W1" ? "Will update" : "Will replace");
      EXPECT_TRUE(warning->isVisible());
    }
    EXPECT_TRUE(page->CanGoNext());
  }

  // Updating off: a fresh installation over the old one, which it replaces.
  Type(*page, "/srv/Old");
  Control(*page, "CB1").click();
  EXPECT_FALSE(Session().HasFlag(setup::sfUPDATE));
  EXPECT_FALSE(Control(*page, "CB4").isVisible());
  EXPECT_TRUE(Control(*page, "CB3").isEnabled());
  EXPECT_EQ(WarningNames(*page), QStringList{"W3"});
  Control(*page, "CB1").click();
  Control(*page, "CB4").click();
  EXPECT_TRUE(Session().HasFlag(setup::sfUPDATE));
  EXPECT_TRUE(Session().HasFlag(setup::sfNOBACKUP));
}

TEST_F(ProductPagesTest, EmptyRenamedAndRefusedFolders) {
  OpenOrvi();
  auto page = Make<setup::TSetupPageSetup>(setup::kSetupPageSetup);
  // No destination is not the current folder, whatever it holds.
  TempDir current;
  current.WriteFile("ORVI.ini", OrviIni(5010));
  const std::string before = kel::kelGetCurrentDir();
  ASSERT_TRUE(kel::kelSetCurrentDir(current.Path()));
  Type(*page, "");
  kel::kelSetCurrentDir(before);
  EXPECT_EQ(Dest(), "");
  EXPECT_FALSE(page->CanGoNext());
  EXPECT_FALSE(Session().HasFlag(setup::sfUPDATE));
  EXPECT_TRUE(WarningNames(*page).isEmpty());

  Type(*page, "/srv/Bad: Name");
  EXPECT_EQ(Dest(), Machine() / "/srv/Bad Name/");
  EXPECT_TRUE(page->CanGoNext());
  ASSERT_EQ(WarningNames(*page), QStringList{"DestinationChanged"});
  EXPECT_TRUE(page->Warnings()[0]->text().contains(QString::fromStdString(Machine() / "/srv/Bad: Name/")));

  // System and home folders: refused, with an error.
  Machine().AddAccount("alice", 1000, "/home/alice", "/bin/bash", true);
  for (const char* folder : {"/usr", "/home/alice", "/"}) {
    SCOPED_TRACE(folder);
    Type(*page, folder);
    EXPECT_FALSE(page->CanGoNext());
    ASSERT_EQ(WarningNames(*page), QStringList{"DestinationRefused"});
    EXPECT_EQ(page->Warnings()[0]->Icon(), kel::TKELValidationLabelIcon::vliError);
    EXPECT_TRUE(page->Warnings()[0]->text().contains("system folder or a user's home folder"));
  }
  Type(*page, "/home/alice/Apps");
  EXPECT_TRUE(page->CanGoNext());
  EXPECT_TRUE(WarningNames(*page).isEmpty());
}

// Portable inside the program folder goes to the desktop; normal again goes
// back from there, but not from a folder the user chose.
TEST_F(ProductPagesTest, ModeMovesTheDestinationBetweenProgramFolderAndDesktop) {
  OpenOrvi();
  auto page = Make<setup::TSetupPageSetup>(setup::kSetupPageSetup);
  const std::string programFolder = Dest();
  const std::string desktop = Session().Product().GetPortablePath();
  ASSERT_NE(desktop, programFolder);

  QTest::mouseClick(&Control(*page, "CB3"), Qt::LeftButton, {}, QPoint(6, 8));
  EXPECT_EQ(Dest(), desktop);
  EXPECT_EQ(Field(*page).toStdString(), desktop);
  EXPECT_TRUE(Session().HasFlag(setup::sfPORTABLE));
  EXPECT_TRUE(Control(*page, "CB3").isChecked());

  Control(*page, "CB2").click();
  EXPECT_EQ(Dest(), programFolder);
  EXPECT_FALSE(Session().HasFlag(setup::sfPORTABLE));

  Type(*page, "/srv/Stick");
  Control(*page, "CB3").click();
  Control(*page, "CB2").click();
  EXPECT_EQ(Dest(), Machine() / "/srv/Stick/");
  EXPECT_FALSE(Session().HasFlag(setup::sfPORTABLE));
}

// The browse button's dialog, answered: a folder named like the product (in
// any case) is taken as it is, another one gets the product's folder.
TEST_F(ProductPagesTest, BrowsingAppendsTheProductNameUnlessTheFolderHasIt) {
  OpenOrvi();
  for (const char* folder : {"/srv/testPRODUCT", "/srv/Apps"}) std::filesystem::create_directories(Machine() / folder);
  auto page = Make<setup::TSetupPageSetup>(setup::kSetupPageSetup);
  const struct {
    const char* answer;
    std::string destination;
  } rows[] = {
      {"/srv/testPRODUCT", Machine() / "/srv/testPRODUCT/"},
      {"/srv/Apps", Machine() / "/srv/Apps/TestProduct/"},
      {"Cancel", Machine() / "/srv/Apps/TestProduct/"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.answer);
    kel::TKELDialogAnswers::Push(row.answer);
    Control<QPushButton>(*page, "Browse").click();
    EXPECT_EQ(Dest(), row.destination);
    EXPECT_EQ(Field(*page).toStdString(), row.destination);
    ASSERT_FALSE(kel::TKELDialogAnswers::Records().empty());
    const kel::TKELDialogRecord& record = kel::TKELDialogAnswers::Records().back();
    EXPECT_EQ(record.caption, "Pick a folder");
    EXPECT_EQ(record.answer, row.answer);
    EXPECT_TRUE(record.scripted);
  }
  EXPECT_EQ(Control<QPushButton>(*page, "Browse").text(), "Browse...");
}

TEST_F(ProductPagesTest, AddonsPageOnlyInARussianInteractiveRun) {
  const struct {
    const char* language;
    const char* params;
    QStringList pages;
  } rows[] = {
      {"ru", "",
       {"PageWelcome", "PageLicense", "PageSetup", "PageAddons", "PageIntegration", "PageReadyToInstall",
        "PageInstall", "PageFinish"}},
      {"en", "", {"PageWelcome", "PageLicense", "PageSetup", "PageIntegration", "PageReadyToInstall", "PageInstall",
                  "PageFinish"}},
      {"ru", "/AUTO", {"PageInstall", "PageFinish"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.language) + " " + row.params);
    OpenOrvi(row.params, row.language);
    OpenWizard();
    QStringList pages;
    for (int i = 0; i < Wizard().Pages().Count(); ++i) pages << Wizard().Pages()[i]->objectName();
    EXPECT_EQ(pages, row.pages);
  }
}

TEST_F(ProductPagesTest, AddonsPageOffersTheAddonOfThePackage) {
  OpenOrvi("", "ru");
  auto page = Make<setup::TSetupPageAddons>(setup::kSetupPageAddons);
  for (const char* name : {"CB1", "CB2", "CB3"}) EXPECT_TRUE(Control(*page, name).isChecked()) << name;
  for (const char* key : {"AddonsViewer", "AddonsExtensions", "AddonsShortcuts"})
    EXPECT_EQ(Session().Settings().ReadString("Common", key, ""), "1") << key;
  const QList<kel::TKELFormattedLabel*> notes = page->findChildren<kel::TKELFormattedLabel*>();
  ASSERT_EQ(notes.size(), 2);
  EXPECT_EQ(notes[0]->Caption(), "[B]Tag Studio[/B] is free");
  EXPECT_EQ(notes[1]->Caption(),
            "Its [URL=https://example.test/licence]licence[/URL] and [URL=https://example.test/privacy]privacy[/URL]");

  Control(*page, "CB2").click();
  EXPECT_EQ(Session().Settings().ReadString("Common", "AddonsExtensions", ""), "0");
  EXPECT_EQ(Session().Settings().ReadString("Common", "AddonsViewer", ""), "1");

  // The picture at the top right, 10 pixels in.
  const QImage picture = page->grab().toImage();
  EXPECT_EQ(picture.pixelColor(640 - 11, 0), QColor(Qt::red));
  EXPECT_EQ(picture.pixelColor(640 - 50, 29), QColor(Qt::red));
  EXPECT_NE(picture.pixelColor(640 - 10, 0), QColor(Qt::red));
  EXPECT_NE(picture.pixelColor(640 - 51, 0), QColor(Qt::red));
}

// The previous installation's choices (an ORVI.ini in the destination) stay
// as they are until a box is clicked; without any, every box is on.
TEST_F(ProductPagesTest, IntegrationPageKeepsThePreviousChoicesUntilClicked) {
  OpenOrvi();
  Machine().WriteFile("/srv/Old/ORVI.ini", OrviIni(3000) + "[Integration]\r\nShortcutDesktop=0\r\nAssociateWithFiles=0\r\n");
  Session().SetDestination(Machine() / "/srv/Old/");
  auto page = Make<setup::TSetupPageIntegration>(setup::kSetupPageIntegration);
  EXPECT_TRUE(page->IsAvailable());
  EXPECT_FALSE(Control(*page, "CB1").isChecked());
  EXPECT_FALSE(Control(*page, "CB3").isChecked());
  for (const char* name : {"CB2", "CB4", "CB5"}) EXPECT_TRUE(Control(*page, name).isChecked()) << name;
  EXPECT_EQ(Session().Settings().ReadSection("Integration"), "ShortcutDesktop=0\r\nAssociateWithFiles=0\r\n")
      << "nothing written";

  Control(*page, "CB5").click();
  const kel::TKELIniFile& settings = Session().Settings();
  EXPECT_EQ(settings.ReadString("Integration", "RegisterContextMenu", ""), "0");
  EXPECT_EQ(settings.ReadString("Integration", "ShortcutStartMenu", ""), "1");
  EXPECT_EQ(settings.ReadString("Integration", "ShortcutDesktop", ""), "0");

  Session().SetDestination(Machine() / "/srv/New/");
  page->Prepare();
  for (const char* name : {"CB1", "CB2", "CB3", "CB4", "CB5"}) EXPECT_TRUE(Control(*page, name).isChecked()) << name;
  EXPECT_EQ(Session().Settings().ReadSection("Integration"), "");

  Session().SetFlag(setup::sfPORTABLE, true);
  EXPECT_FALSE(page->IsAvailable());
}

TEST_F(ProductPagesTest, UninstallOptionsAreOffUnlessChosen) {
  for (const char* params : {"", "/REMOVEBACKUPS /REMOVECONTENT"}) {
    SCOPED_TRACE(params);
    OpenOrvi(params, "en", true);
    auto page = Make<setup::TSetupPageUninstallParams>(setup::kSetupPageUninstallParams);
    const bool chosen = *params != '\0';
    EXPECT_EQ(Control(*page, "CB1").isChecked(), chosen);
    EXPECT_EQ(Control(*page, "CB2").isChecked(), chosen);
  }
  Control(*Make<setup::TSetupPageUninstallParams>(setup::kSetupPageUninstallParams), "CB2").click();
  EXPECT_EQ(Session().Settings().ReadString("Common", "RemoveContent", ""), "0");
  EXPECT_EQ(Session().Settings().ReadString("Common", "RemoveBackups", ""), "1");
}

}  // namespace
}  // namespace orvi::test
