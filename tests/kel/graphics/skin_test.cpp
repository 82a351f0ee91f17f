#include "kel/graphics/skin.h"

#include <gtest/gtest.h>

#include "support/default_skins.h"
#include "support/fuzz.h"

namespace kel {
namespace {

TKELSkin DefaultSkin(bool dark) {
  return TKELSkin::Parse(*orvi::test::DefaultSkinText(dark ? kelDefaultSkinDarkResource : kelDefaultSkinResource));
}

TKELSkinColor Rgb(uint32_t rgb) { return TKELSkinColor{0xFF000000u | rgb}; }

// Every identifier the controls may ask for, by group.
const std::vector<std::pair<std::string, std::vector<std::string>>> kIdentifiers = {
    {"Bevels", {"Colors.Line1", "Colors.Line2"}},
    {"Buttons",
     {"Colors.Text", "Colors.TextDisabled", "Colors.TextHover", "Colors.TextPressed", "Textures.Button",
      "Textures.Button.W11", "Textures.CheckBox", "Textures.RadioBox"}},
    {"Calendar",
     {"Colors.TextDay", "Colors.Frame", "Colors.TextInactiveDay", "Colors.TextSelectedDay", "Colors.Text",
      "Colors.TextToday", "Colors.TextWeekend"}},
    {"Category",
     {"Colors.Header1", "Colors.Header2", "Colors.Background1", "Colors.Background2", "Colors.Border1",
      "Colors.Border2", "Fonts.Header"}},
    {"Common",
     {"Colors.Navy", "Colors.TextHeader", "Colors.Activity1", "Colors.Activity2", "Colors.Border1", "Colors.Border2",
      "Colors.Border3", "Colors.Background1", "Colors.Background2", "Colors.Content", "Colors.ContentDisabled",
      "Colors.Text", "Colors.TextDisabled", "Colors.TextShadow", "Colors.Hyperlink", "Fonts.Default",
      "Fonts.Disabled", "Fonts.Bold"}},
    {"Docking",
     {"Colors.Border1", "Colors.Border2", "Colors.Background1", "Colors.Background2", "Colors.Header1",
      "Colors.Header2", "Colors.SideBar", "Colors.TabsArea", "Fonts.Header", "Fonts.Tab", "Fonts.TabActive",
      "Fonts.SideBar", "Textures.SideBar", "Textures.HeaderButton", "Textures.HeaderButtonGlyphs"}},
    {"EditBox",
     {"Colors.Border", "Colors.BorderFocused", "Colors.Content", "Colors.ContentDisabled", "Colors.Text",
      "Colors.TextDisabled", "Colors.ButtonText", "Colors.ButtonTextDisabled", "Colors.ButtonTextHover",
      "Colors.ButtonTextPressed", "Textures.Button", "Textures.Cancel", "Textures.SpinButton"}},
    {"Groups", {"Colors.HeaderText", "Colors.Background1", "Colors.Background2", "Colors.Border1", "Colors.Border2"}},
    {"HexView", {"Colors.Focused", "Colors.Selected", "Colors.SelectedInactive", "Colors.Text1", "Colors.Text2"}},
    {"Hint", {"Colors.Background1", "Colors.Background2", "Colors.Border", "Colors.Text"}},
    {"Labels",
     {"Colors.Background", "Colors.TextHyperlink", "Colors.Line1", "Colors.Line2", "Colors.Text",
      "Colors.TextDisabled", "Colors.TextShadow", "Textures.Icons"}},
    {"Popup",
     {"Colors.Border1", "Colors.Border2", "Colors.Item", "Colors.ItemSelected", "Margins.Borders",
      "Margins.Borders.W11", "Margins.CornerRadius", "Margins.CornerRadius.W11", "Fonts.Default", "Fonts.Disabled",
      "Fonts.Selected", "Textures.ScrollBar", "Textures.ScrollBarButtons", "Textures.ScrollBarThumb",
      "Textures.Gutter", "Textures.Separator"}},
    {"ProgressBar", {"Texture"}},
    {"ProgressBox", {"Colors.Cover", "Colors.Border1", "Colors.Border2", "Colors.Content", "Colors.Text"}},
    {"ScrollBox",
     {"Textures.Horz.Background", "Textures.Horz.Buttons", "Textures.Horz.Thumb", "Textures.SizeGrip",
      "Textures.Vert.Background", "Textures.Vert.Buttons", "Textures.Vert.Thumb"}},
    {"Slider",
     {"Textures.Background", "Textures.Thumb", "Textures.Thumb.W11", "Colors.Mark", "Colors.MarkDisabled",
      "Colors.DefaultValue"}},
    {"Tabs", {"Colors.Content", "Colors.Border1", "Colors.Border2", "Textures.Header", "Fonts.Header",
              "Fonts.HeaderActive"}},
    {"TreeList",
     {"Colors.Grid", "Colors.GroupHeader", "Colors.GroupHeaderBorder", "Colors.IncSearch", "Colors.IncSearchText",
      "Colors.Row1", "Colors.Row2", "Colors.RowFocused", "Colors.RowFocusedText", "Colors.RowHovered",
      "Colors.RowHoveredText", "Colors.RowSelected", "Colors.RowSelectedInactive", "Colors.RowSelectedText",
      "Colors.RowSelectedTextInactive", "Colors.SelectionRect", "Fonts.ColumnHeader", "Fonts.GroupHeader",
      "Margins.GroupHeaderContentOffsets", "Margins.RowContentOffsets", "Textures.ColumnHeader",
      "Textures.ColumnHeaderSortingArrow", "Textures.GroupHeaderExpandButton", "Textures.RowExpandButton"}},
};

const std::vector<std::string> kDarkOnly = {
    "Common.Colors.Hatch1",           "Common.Colors.Hatch2",          "BindingSurface.Colors.ObjectBorder",
    "BindingSurface.Colors.ObjectCaption", "BindingSurface.Colors.ObjectContent",
    "BindingSurface.Colors.ObjectSelection", "BindingSurface.Colors.LinkBaseColor", "Diagram.Colors.ObjectBorder",
    "Diagram.Colors.ObjectCaption",   "Diagram.Colors.ObjectContent",  "Diagram.Colors.ObjectSelection",
    "Diagram.Colors.LinkBaseColor"};

TEST(Skin, DefaultSkinsHoldEveryIdentifierAndNothingDangles) {
  for (const bool dark : {false, true}) {
    SCOPED_TRACE(dark ? "dark" : "light");
    const TKELSkin skin = DefaultSkin(dark);
    EXPECT_EQ(skin.Items().size(), dark ? 170u : 158u);
    std::vector<std::string> expected;
    for (const auto& [group, names] : kIdentifiers)
      for (const std::string& name : names) expected.push_back(group + "." + name);
    if (dark) expected.insert(expected.end(), kDarkOnly.begin(), kDarkOnly.end());
    for (const std::string& id : expected) EXPECT_NE(skin.Find(id), nullptr) << id;
    // The stored items are exactly these, one of them twice.
    EXPECT_EQ(skin.Items().size(), expected.size() + 1);
    int borders = 0;
    for (const TKELSkinItem& item : skin.Items()) borders += item.Id == "Popup.Margins.Borders";
    EXPECT_EQ(borders, 2);
    EXPECT_EQ(skin.Problems(), std::vector<std::string>());
    // Every reference leads to a value or to an item left undefined on purpose.
    for (const TKELSkinItem& item : skin.Items()) {
      if (item.Reference.empty()) continue;
      const TKELSkinItem* target = skin.Resolve(item.Id);
      EXPECT_TRUE(target || item.Id == "Popup.Margins.CornerRadius") << item.Id;
    }
  }
}

TEST(Skin, DefaultSkinsGiveTheControlsTheirValues) {
  const TKELSkin light = DefaultSkin(false), dark = DefaultSkin(true);
  const struct {
    const char* id;
    std::optional<TKELSkinColor> light, dark;
  } colors[] = {
      {"Common.Colors.Background1", Rgb(0xFFFFFF), Rgb(0x2A2A2A)},
      {"Common.Colors.Background2", TKELSkinColor{0}, TKELSkinColor{0}},
      {"Common.Colors.ContentDisabled", Rgb(0xF0F0F0), Rgb(0x363636)},
      {"Common.Colors.TextShadow", Rgb(0xC0C0C0), Rgb(0x646464)},
      {"Common.Colors.Border3", Rgb(0x808080), Rgb(0x686868)},
      {"Labels.Colors.Background", Rgb(0xFFFFFF), Rgb(0x2A2A2A)},
      {"Labels.Colors.Text", Rgb(0x000000), Rgb(0xFFFFFF)},
      {"Labels.Colors.TextDisabled", Rgb(0x808080), Rgb(0x808080)},
      {"Labels.Colors.TextHyperlink", Rgb(0xD96300), Rgb(0xDE8C33)},
      {"Buttons.Colors.TextPressed", Rgb(0x000000), Rgb(0xFFFFFF)},
      {"EditBox.Colors.Border", Rgb(0xBCBCBC), Rgb(0x686868)},
      {"EditBox.Colors.BorderFocused", Rgb(0x9A632C), Rgb(0x9A632C)},
      {"EditBox.Colors.Content", Rgb(0xFAFAFA), Rgb(0x2F2F2F)},
      // Three references deep: EditBox -> Buttons -> Common.
      {"EditBox.Colors.ButtonTextHover", Rgb(0x000000), Rgb(0xFFFFFF)},
      {"Hint.Colors.Background2", Rgb(0xE6E6E6), Rgb(0x383838)},
      {"Hint.Colors.Border", Rgb(0x969696), Rgb(0x242424)},
      {"Hint.Colors.Text", Rgb(0x000000), Rgb(0xFFFFFF)},
      {"Popup.Colors.ItemSelected", Rgb(0xDE8C33), Rgb(0x9A632C)},
      {"TreeList.Colors.Row2", std::nullopt, std::nullopt},  // undefined: the control's own
  };
  for (const auto& row : colors) {
    EXPECT_EQ(light.Color(row.id), row.light) << row.id;
    EXPECT_EQ(dark.Color(row.id), row.dark) << row.id;
  }
  EXPECT_EQ(light.Font("Common.Fonts.Default"), TKELSkinFontInfo{});
  EXPECT_EQ(dark.Font("Common.Fonts.Default"), TKELSkinFontInfo{Rgb(0xFFFFFF)});
  for (const TKELSkin* skin : {&light, &dark}) {
    EXPECT_EQ(skin->Font("Common.Fonts.Disabled"), TKELSkinFontInfo{Rgb(0x808080)});
    EXPECT_EQ(skin->Font("Common.Fonts.Bold")->Styles, fsBold);
    EXPECT_EQ(skin->Font("Tabs.Fonts.HeaderActive"), skin->Font("Common.Fonts.Bold")) << "a font by reference";
    EXPECT_EQ(skin->Margins("TreeList.Margins.RowContentOffsets"), (TKELSkinMargins{4, 4, 4, 4}));
    EXPECT_EQ(skin->Font("Common.Colors.Text"), std::nullopt) << "not a font";
    EXPECT_EQ(skin->Color("Common.Fonts.Default"), std::nullopt) << "not a colour";
  }
  EXPECT_EQ(dark.Font("Common.Fonts.Bold")->Color, Rgb(0xFFFFFF)) << "the base's colour carries over";
}

TEST(Skin, Windows11VariantsByVersion) {
  const struct {
    uint32_t major, build;
    TKELSkinMargins borders;
    std::optional<TKELSkinMargins> cornerRadius;
  } rows[] = {
      {10, 19045, {2, 2, 2, 2}, std::nullopt},  // Windows 10: square corners
      {6, 22631, {2, 2, 2, 2}, std::nullopt},   // a build number alone is not enough
      {10, 22000, {6, 6, 6, 6}, TKELSkinMargins{7, 7, 7, 7}},
      {11, 26100, {6, 6, 6, 6}, TKELSkinMargins{7, 7, 7, 7}},
  };
  for (const auto& row : rows) {
    for (const bool dark : {false, true}) {
      TKELSkin skin = DefaultSkin(dark);
      skin.ApplyWindows11Variants(row.major, row.build);
      EXPECT_EQ(skin.Margins("Popup.Margins.Borders"), row.borders) << row.major << "." << row.build;
      const std::string variant = row.cornerRadius ? "Popup.Margins.Borders.W11" : "";
      for (const TKELSkinItem& item : skin.Items())
        EXPECT_TRUE(item.Id != "Popup.Margins.Borders" || item.Reference == variant) << "both copies";
      EXPECT_EQ(skin.Margins("Popup.Margins.CornerRadius"), row.cornerRadius) << row.major << "." << row.build;
      EXPECT_EQ(skin.Problems(), std::vector<std::string>());
    }
  }
  // Only items with a twin change.
  TKELSkin skin = TKELSkin::Parse("margins Popup.Margins.Borders = 1, 1, 1, 1\n");
  skin.ApplyWindows11Variants(10, 22631);
  EXPECT_EQ(skin.Margins("Popup.Margins.Borders"), (TKELSkinMargins{1, 1, 1, 1}));
}

TEST(Skin, ReferencesAndFontsResolveOrFallBack) {
  const TKELSkin skin = TKELSkin::Parse(
      "\xEF\xBB\xBF# a comment\r\n"
      "color A.Colors.Base = xFF102030\r\n"
      "color A.Colors.One -> a.colors.base\n"  // identifiers ignore case
      "color A.Colors.Two -> A.Colors.One\n"
      "color A.Colors.Empty\n"
      "color A.Colors.ToEmpty -> A.Colors.Empty\n"
      "color A.Colors.Named = claWhitesmoke\n"
      "color A.Colors.Dangling -> A.Colors.Nowhere\n"
      "color A.Colors.Loop1 -> A.Colors.Loop2\n"
      "color A.Colors.Loop2 -> A.Colors.Loop1\n"
      "integer A.Wrong -> A.Colors.Base\n"
      "integer A.Size = -3\n"
      "font A.Fonts.Base = application color claNavy italic\n"
      "font A.Fonts.Derived = A.Fonts.Base bold underline\n"
      "font A.Fonts.Regular = A.Fonts.Derived regular\n"
      "font A.Fonts.Orphan = A.Colors.Base\n"
      "font A.Fonts.Circle = A.Fonts.Circle\n"
      "texture A.Textures.Fixed = fixed\n"
      "color A.Colors.Base = xFF000000\n");
  EXPECT_EQ(skin.Color("A.Colors.Two"), Rgb(0x102030));
  EXPECT_EQ(skin.Color("A.Colors.Base"), Rgb(0x102030)) << "the first of two wins";
  EXPECT_EQ(skin.Color("A.Colors.ToEmpty"), std::nullopt);
  EXPECT_EQ(skin.Color("A.Colors.Named"), Rgb(0xF5F5F5));
  EXPECT_EQ(skin.Color("A.Colors.Dangling"), std::nullopt);
  EXPECT_EQ(skin.Color("A.Colors.Loop1"), std::nullopt);
  EXPECT_EQ(skin.Integer("A.Wrong"), std::nullopt);
  EXPECT_EQ(skin.Integer("A.Size"), -3);
  EXPECT_EQ(skin.Color("Missing.Item"), std::nullopt);
  EXPECT_EQ(skin.Font("A.Fonts.Derived"), (TKELSkinFontInfo{TKELSkinColor::FromRGB(0, 0, 0x80), fsBold | fsUnderline}));
  EXPECT_EQ(skin.Font("A.Fonts.Regular")->Styles, 0);
  EXPECT_EQ(skin.Font("A.Fonts.Orphan"), std::nullopt);
  EXPECT_EQ(skin.Font("A.Fonts.Circle"), std::nullopt);
  EXPECT_EQ(skin.Texture("A.Textures.Fixed"), TKELSkinTexture{false});
  EXPECT_EQ(skin.Problems(), (std::vector<std::string>{
                                 "\"A.Colors.Dangling\": \"A.Colors.Nowhere\" does not exist",
                                 "\"A.Colors.Loop1\": its references go round in a circle",
                                 "\"A.Colors.Loop2\": its references go round in a circle",
                                 "\"A.Wrong\": \"A.Colors.Base\" is a color",
                                 "\"A.Fonts.Orphan\": its base \"A.Colors.Base\" is not a font",
                                 "\"A.Fonts.Circle\": its base fonts go round in a circle",
                                 "\"A.Colors.Base\" is stored twice with different definitions",
                             }));
}

TEST(Skin, BadLinesNameTheLineAndTheFault) {
  const struct {
    const char* text;
    const char* message;
  } rows[] = {
      {"color\n", "Skin line 1: expected KIND IDENTIFIER, then \"= VALUE\" or \"-> IDENTIFIER\" or nothing"},
      {"\n\nshade A.B = x00000000", "Skin line 3: \"shade\" is not a kind of item"},
      {"color A..B", "Skin line 1: \"A..B\" is not an identifier"},
      {"color A.B = #FFFFFF", "Skin line 1: \"#FFFFFF\" is not a colour"},
      {"color A.B = xFFFFFF", "Skin line 1: \"xFFFFFF\" is not a colour"},
      {"color A.B = claWhite claBlack", "Skin line 1: \"claWhite claBlack\" is more than one value"},
      {"color A.B =", "Skin line 1: \"=\" without a value"},
      {"color A.B - A.C", "Skin line 1: expected \"->\""},
      {"color A.B -> A.C A.D", "Skin line 1: \"->\" takes one identifier"},
      {"integer A.B = 99999999999", "Skin line 1: \"99999999999\" is not a number"},
      {"margins A.B = 1, 2, 3", "Skin line 1: margins are four numbers separated by commas"},
      {"margins A.B = 1 2 3 4", "Skin line 1: margins are four numbers separated by commas"},
      {"font A.B = application color", "Skin line 1: \"color\" without a colour"},
      {"font A.B = application heavy", "Skin line 1: \"heavy\" is not a font setting"},
      {"texture A.B = stretched", "Skin line 1: \"stretched\" is not \"scaled\" or \"fixed\""},
      {"color A.B = \xFF", "Skin text is not UTF-8"},
  };
  for (const auto& row : rows) {
    try {
      TKELSkin::Parse(row.text);
      ADD_FAILURE() << row.text;
    } catch (const ESkinError& e) {
      EXPECT_EQ(e.Message(), row.message) << row.text;
    }
  }
}

TEST(SkinFuzz, ArbitraryText) {
  orvi::test::FuzzOptions options;
  options.seeds = {*orvi::test::DefaultSkinText(kelDefaultSkinDarkResource), "color A.B -> A.B\nfont F = F bold\n"};
  options.dictionary = {"color ", "font ", "margins ", "integer ", "texture ", " = ", " -> ", "claNull", "xFF",
                        "application", " bold", ",", "\n", "Popup.Margins.Borders", ".W11"};
  orvi::test::RunFuzzTarget(
      "skin",
      [](std::string_view text) {
        try {
          TKELSkin skin = TKELSkin::Parse(text);
          skin.ApplyWindows11Variants(10, 22000);
          for (const TKELSkinItem& item : skin.Items()) {
            skin.Resolve(item.Id);
            skin.Font(item.Id);
          }
          skin.Problems();
        } catch (const ESkinError&) {
        }
      },
      options);
}

}  // namespace
}  // namespace kel
