#include "kel/ui/skin_style.h"

#include <QStringList>
#include <optional>
#include <vector>

#include "kel/ui/dpi.h"

namespace kel {

namespace {

// A colour of the skin: the first of the identifiers that resolves.
std::optional<QColor> ColorOf(const TKELSkin& skin, std::initializer_list<std::string_view> ids) {
  for (const std::string_view id : ids)
    if (const std::optional<TKELSkinColor> color = skin.Color(id)) return kelToQColor(*color);
  return std::nullopt;
}

QString CssColor(const QColor& color) {
  return color.alpha() == 255 ? color.name(QColor::HexRgb)
                              : QString("rgba(%1, %2, %3, %4)")
                                    .arg(color.red())
                                    .arg(color.green())
                                    .arg(color.blue())
                                    .arg(color.alpha());
}

// One rule of the sheet; properties whose value the skin does not define are
// left out, and so is a rule left without any.
class TRule {
 public:
  TRule(const TKELSkin& skin, int dpi, QString selector) : skin_(skin), dpi_(dpi), selector_(std::move(selector)) {}

  TRule& Color(const char* property, std::initializer_list<std::string_view> ids) {
    if (const std::optional<QColor> color = ColorOf(skin_, ids)) Add(property, CssColor(*color));
    return *this;
  }
  TRule& Border(const char* property, std::initializer_list<std::string_view> ids) {
    if (const std::optional<QColor> color = ColorOf(skin_, ids))
      Add(property, QString("%1px solid %2").arg(Px(1)).arg(CssColor(*color)));
    return *this;
  }
  // Lengths designed at 96 DPI.
  TRule& Length(const char* property, int length) {
    Add(property, QString("%1px").arg(Px(length)));
    return *this;
  }
  TRule& Margins(const char* property, const TKELSkinMargins& margins) {
    Add(property, QString("%1px %2px %3px %4px")
                      .arg(Px(margins.Top))
                      .arg(Px(margins.Right))
                      .arg(Px(margins.Bottom))
                      .arg(Px(margins.Left)));
    return *this;
  }
  TRule& Text(const char* property, const QString& value) {
    Add(property, value);
    return *this;
  }
  // A vertical gradient between two colours (a single colour when the
  // second is missing).
  TRule& Gradient(const char* property, std::string_view top, std::string_view bottom) {
    const std::optional<QColor> from = ColorOf(skin_, {top});
    const std::optional<QColor> to = ColorOf(skin_, {bottom, top});
    if (from && to)
      Add(property, QString("qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1, stop: 0 %1, stop: 1 %2)")
                        .arg(CssColor(*from), CssColor(*to)));
    return *this;
  }

  QString ToString() const {
    return properties_.isEmpty() ? QString() : selector_ + " { " + properties_.join("; ") + "; }\n";
  }

 private:
  int Px(int length) const { return std::max(length > 0 ? 1 : 0, kelScaleByDpi(length, dpi_)); }
  void Add(const char* property, const QString& value) { properties_ << QString(property) + ": " + value; }

  const TKELSkin& skin_;
  int dpi_;
  QString selector_;
  QStringList properties_;
};

}  // namespace

QColor kelToQColor(TKELSkinColor color) { return QColor(color.Red(), color.Green(), color.Blue(), color.Alpha()); }

QPalette kelSkinPalette(const TKELSkin& skin, const QPalette& base) {
  QPalette palette = base;
  const auto set = [&](QPalette::ColorGroup group, QPalette::ColorRole role,
                       std::initializer_list<std::string_view> ids) {
    if (const std::optional<QColor> color = ColorOf(skin, ids)) {
      if (group == QPalette::All)
        palette.setColor(role, *color);
      else
        palette.setColor(group, role, *color);
    }
  };
  set(QPalette::All, QPalette::Window, {"Common.Colors.Background1"});
  set(QPalette::All, QPalette::WindowText, {"Labels.Colors.Text", "Common.Colors.Text"});
  set(QPalette::Disabled, QPalette::WindowText, {"Labels.Colors.TextDisabled", "Common.Colors.TextDisabled"});
  set(QPalette::All, QPalette::Base, {"EditBox.Colors.Content", "Common.Colors.Content"});
  set(QPalette::Disabled, QPalette::Base, {"EditBox.Colors.ContentDisabled", "Common.Colors.ContentDisabled"});
  set(QPalette::All, QPalette::AlternateBase, {"TreeList.Colors.Row2", "Common.Colors.Content"});
  set(QPalette::All, QPalette::Text, {"EditBox.Colors.Text", "Common.Colors.Text"});
  set(QPalette::Disabled, QPalette::Text, {"EditBox.Colors.TextDisabled", "Common.Colors.TextDisabled"});
  set(QPalette::All, QPalette::PlaceholderText, {"Common.Colors.TextDisabled"});
  set(QPalette::All, QPalette::Button, {"Common.Colors.Content"});
  set(QPalette::Disabled, QPalette::Button, {"Common.Colors.ContentDisabled"});
  set(QPalette::All, QPalette::ButtonText, {"Buttons.Colors.Text", "Common.Colors.Text"});
  set(QPalette::Disabled, QPalette::ButtonText, {"Buttons.Colors.TextDisabled", "Common.Colors.TextDisabled"});
  set(QPalette::All, QPalette::Light, {"Common.Colors.Border2"});
  set(QPalette::All, QPalette::Midlight, {"Common.Colors.Border2"});
  set(QPalette::All, QPalette::Mid, {"Common.Colors.Border1"});
  set(QPalette::All, QPalette::Dark, {"Common.Colors.Border3"});
  set(QPalette::All, QPalette::Shadow, {"Common.Colors.Border3"});
  set(QPalette::All, QPalette::Highlight, {"Popup.Colors.ItemSelected"});
  set(QPalette::All, QPalette::HighlightedText, {"Common.Colors.Text"});
  set(QPalette::All, QPalette::Link, {"Labels.Colors.TextHyperlink", "Common.Colors.Hyperlink"});
  set(QPalette::All, QPalette::LinkVisited, {"Labels.Colors.TextHyperlink", "Common.Colors.Hyperlink"});
  set(QPalette::All, QPalette::ToolTipBase, {"Hint.Colors.Background1"});
  set(QPalette::All, QPalette::ToolTipText, {"Hint.Colors.Text"});
  return palette;
}

QString kelSkinStyleSheet(const TKELSkin& skin, int dpi) {
  const auto rule = [&](const char* selector) { return TRule(skin, dpi, selector); };
  std::vector<TRule> rules;

  // Buttons (also the button of an edit box).
  rules.push_back(rule("QPushButton, QToolButton")
                      .Color("color", {"Buttons.Colors.Text"})
                      .Color("background-color", {"Common.Colors.Content"})
                      .Border("border", {"Common.Colors.Border1"})
                      .Length("padding-left", 8)
                      .Length("padding-right", 8));
  rules.push_back(rule("QPushButton:hover, QToolButton:hover")
                      .Color("color", {"Buttons.Colors.TextHover"})
                      .Border("border", {"Popup.Colors.ItemSelected"}));
  rules.push_back(rule("QPushButton:focus, QPushButton:default")
                      .Border("border", {"EditBox.Colors.BorderFocused"}));
  rules.push_back(rule("QPushButton:pressed, QToolButton:pressed")
                      .Color("color", {"Buttons.Colors.TextPressed"})
                      .Color("background-color", {"Common.Colors.ContentDisabled"}));
  rules.push_back(rule("QPushButton:disabled, QToolButton:disabled")
                      .Color("color", {"Buttons.Colors.TextDisabled"})
                      .Color("background-color", {"Common.Colors.ContentDisabled"})
                      .Border("border", {"Common.Colors.Border1"}));
  rules.push_back(rule("QLineEdit QToolButton, QLineEdit + QToolButton")
                      .Color("color", {"EditBox.Colors.ButtonText"}));
  rules.push_back(rule("QLineEdit QToolButton:disabled, QLineEdit + QToolButton:disabled")
                      .Color("color", {"EditBox.Colors.ButtonTextDisabled"}));

  // Check and radio boxes: the text; the marks are the style's, in the
  // palette's colours.
  rules.push_back(rule("QCheckBox, QRadioButton").Color("color", {"Buttons.Colors.Text"}));
  rules.push_back(rule("QCheckBox:disabled, QRadioButton:disabled").Color("color", {"Buttons.Colors.TextDisabled"}));

  // Edit boxes and memos.
  rules.push_back(rule("QLineEdit, QPlainTextEdit, QTextEdit")
                      .Color("color", {"EditBox.Colors.Text"})
                      .Color("background-color", {"EditBox.Colors.Content"})
                      .Border("border", {"EditBox.Colors.Border"})
                      .Color("selection-background-color", {"Popup.Colors.ItemSelected"})
                      .Color("selection-color", {"Common.Colors.Text"}));
  rules.push_back(rule("QLineEdit:focus, QPlainTextEdit:focus, QTextEdit:focus")
                      .Border("border", {"EditBox.Colors.BorderFocused"}));
  rules.push_back(rule("QLineEdit:disabled, QPlainTextEdit:disabled, QTextEdit:disabled")
                      .Color("color", {"EditBox.Colors.TextDisabled"})
                      .Color("background-color", {"EditBox.Colors.ContentDisabled"}));

  // Scroll bars: a thumb on the background, without arrow buttons.
  for (const char* orientation : {"vertical", "horizontal"}) {
    const bool vertical = orientation[0] == 'v';
    rules.push_back(TRule(skin, dpi, QString("QScrollBar:%1").arg(orientation))
                        .Color("background-color", {"Common.Colors.Background1"})
                        .Length(vertical ? "width" : "height", 12)
                        .Text("margin", "0px"));
    rules.push_back(TRule(skin, dpi, QString("QScrollBar::handle:%1").arg(orientation))
                        .Color("background-color", {"Common.Colors.Border1"})
                        .Length(vertical ? "min-height" : "min-width", 24)
                        .Length("margin", 3));
    rules.push_back(TRule(skin, dpi, QString("QScrollBar::handle:%1:hover").arg(orientation))
                        .Color("background-color", {"Common.Colors.Border3"}));
    rules.push_back(TRule(skin, dpi,
                          QString("QScrollBar::add-line:%1, QScrollBar::sub-line:%1").arg(orientation))
                        .Text("width", "0px")
                        .Text("height", "0px")
                        .Text("border", "none"));
    rules.push_back(TRule(skin, dpi,
                          QString("QScrollBar::add-page:%1, QScrollBar::sub-page:%1").arg(orientation))
                        .Text("background", "none"));
  }

  // Progress bars: the frame and the done part in the accent colour.
  rules.push_back(rule("QProgressBar")
                      .Color("color", {"ProgressBox.Colors.Text"})
                      .Color("background-color", {"ProgressBox.Colors.Content"})
                      .Border("border", {"ProgressBox.Colors.Border1"})
                      .Text("text-align", "center"));
  rules.push_back(rule("QProgressBar::chunk").Color("background-color", {"Common.Colors.Activity1"}));

  // Hints.
  rules.push_back(rule("QToolTip")
                      .Color("color", {"Hint.Colors.Text"})
                      .Gradient("background", "Hint.Colors.Background1", "Hint.Colors.Background2")
                      .Border("border", {"Hint.Colors.Border"})
                      .Length("padding", 2));

  // Menus: the popup's borders and, where the skin has one, its corner
  // radius.
  TRule menu = rule("QMenu");
  menu.Color("background-color", {"Popup.Colors.Item"}).Border("border", {"Popup.Colors.Border1"});
  if (const std::optional<TKELSkinFontInfo> font = skin.Font("Popup.Fonts.Default"); font && font->Color)
    menu.Text("color", CssColor(kelToQColor(*font->Color)));
  else
    menu.Color("color", {"Common.Colors.Text"});
  if (const std::optional<TKELSkinMargins> borders = skin.Margins("Popup.Margins.Borders"))
    menu.Margins("padding", *borders);
  if (const std::optional<TKELSkinMargins> radius = skin.Margins("Popup.Margins.CornerRadius"))
    menu.Length("border-radius", radius->Left);
  rules.push_back(menu);
  rules.push_back(rule("QMenu::item").Length("padding-top", 4).Length("padding-bottom", 4).Length("padding-left", 20)
                      .Length("padding-right", 20));
  rules.push_back(rule("QMenu::item:selected").Color("background-color", {"Popup.Colors.ItemSelected"}));
  TRule disabledItem = rule("QMenu::item:disabled");
  if (const std::optional<TKELSkinFontInfo> font = skin.Font("Popup.Fonts.Disabled"); font && font->Color)
    disabledItem.Text("color", CssColor(kelToQColor(*font->Color)));
  rules.push_back(disabledItem);
  rules.push_back(rule("QMenu::separator").Length("height", 1).Color("background-color", {"Popup.Colors.Border1"}));

  // Lengths alone do not make a look: without any colour of the skin the
  // controls keep the style's own.
  if (skin.Items().empty()) return QString();
  QString sheet;
  for (const TRule& item : rules) sheet += item.ToString();
  return sheet;
}

}  // namespace kel
