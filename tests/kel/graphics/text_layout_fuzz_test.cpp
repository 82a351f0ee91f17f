// Arbitrary bytes as markup, laid out under arbitrary settings: the engine
// never crashes or hangs, and its rows keep their basic promises.
#include <gtest/gtest.h>

#include <cmath>

#include "fake_font.h"
#include "kel/graphics/text_layout.h"
#include "support/fuzz.h"

namespace kel {
namespace {

class NullCanvas : public IKELCanvas {
 public:
  void SetFont(const TKELFontFace&) override {}
  void SetTextColor(TKELColor) override {}
  void FillRect(const TKELRectF&, TKELColor) override {}
  void DrawRun(TKELPointF, std::u16string_view run, std::span<const double> advances) override {
    EXPECT_EQ(run.size(), advances.size());
  }
  void PushClip(const TKELRectF&) override { ++depth; }
  void PopClip() override { --depth; }

  int depth = 0;
};

TEST(TextLayoutFuzz, ArbitraryMarkup) {
  orvi::test::FuzzOptions options;
  // Three bytes of settings (options, width, height), then the markup.
  options.seeds = {
      "\x1F\x40\x20[b]Bold[/B] and [COLOR=red]red[/COLOR]\nwww.example.com a@b.org 1:02:03",
      "\x18\x10\x30[SIZE=20]big [BIG][BIG]bigger[/SIZE][/BIG] [SMALL]x[/SMALL] [SIZE=1.5]y",
      "\x0C\x08\x08[URL=https://x.org]link [U]text[/URL] more[/U] [BACKCOLOR=#FF8000]fill[/BACKCOLOR]",
      "\x10\x20\xFF\xD7\x90\xD7\x91 abc \xD8\xA7\xD8\xA8 12 \xF0\x9F\x98\x80 tail",
      "\x03\x00\x00[[[[]]]] a [ b [X] [/COLOR=red] \\n\\\\ \r\n\r\t",
  };
  options.dictionary = {"[B]", "[/B]", "[I]", "[U]", "[/U]", "[S]", "[COLOR=", "[/COLOR]", "[BACKCOLOR=",
                        "[/BACKCOLOR]", "[BIG]", "[/BIG]", "[SMALL]", "[SIZE=", "[/SIZE]", "[URL=", "[URL]",
                        "[/URL]", "]", "[", "\\n", "\r\n", " ", "\t", "www.", "://", "@", "1:23", ".5",
                        "\xE2\x80\xA6", "\xD7\x90", "\xEF\xBC\x88", "\xED\xA0\x80", std::string(1, '\0')};
  orvi::test::RunFuzzTarget(
      "text_layout",
      [](std::string_view input) {
        const auto byte = [&](size_t i) { return i < input.size() ? static_cast<unsigned char>(input[i]) : 0; };
        const TKELTextLayoutOptions layoutOptions = byte(0) & 0x1F;
        TKELTextImportSettings settings;
        settings.AutoDetectEmails = byte(0) & 0x20;
        settings.AutoDetectTimeCodes = byte(0) & 0x40;
        settings.AllowFormatting = !(byte(0) & 0x80);
        const double width = byte(1) * 2, height = byte(2) * 2;
        const std::string_view markup = input.substr(std::min<size_t>(3, input.size()));

        test::FakeFont font;
        TKELTextLayout layout(font);
        layout.SetText(markup, settings);
        layout.SetBounds({0, 0, width, height});
        for (const TKELTextLayoutOption option : {tloAutoHeight, tloAutoWidth, tloFullRowsOnly, tloEndEllipsis, tloWordWrap})
          layout.SetOption(option, layoutOptions & option);

        const TKELSizeF size = layout.Measure();
        EXPECT_TRUE(std::isfinite(size.Width) && std::isfinite(size.Height));
        double top = 0;
        for (const TKELTextLayoutRow& row : layout.Rows()) {
          EXPECT_EQ(row.Bounds.Top, top) << "rows follow each other";
          top = row.Bounds.Bottom;
          if (!(layoutOptions & tloAutoHeight)) {
            EXPECT_LT(row.Bounds.Top, height);
            if (layoutOptions & tloFullRowsOnly) {
              EXPECT_LE(row.Bounds.Bottom, height);
            }
          }
          for (const TKELTextLayoutBlock* block : row.Blocks) {
            if (const auto* text = dynamic_cast<const TKELTextLayoutBlockText*>(block)) {
              EXPECT_LE(text->ShownLength, text->Text.size());
            }
          }
        }
        NullCanvas canvas;
        layout.Draw(canvas);
        EXPECT_EQ(canvas.depth, 0);
        for (const double x : {1.0, width / 2, width - 1})
          for (const double y : {1.0, height / 2}) (void)layout.HitTest({x, y});
        (void)layout.PlainText();
      },
      options);
}

}  // namespace
}  // namespace kel
