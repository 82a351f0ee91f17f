// A font with exact made-up metrics and a canvas that writes down what it is
// asked to paint, for tests of the formatted-text engine.
//
// At a size of s points (1 point = 1 pixel): height s, descent s/5,
// external leading s/10, and every code unit s/2 wide (one more when bold),
// except the second half of a surrogate pair (0). At 10 points: ascent 8,
// line height 11, characters 5 wide.
#pragma once

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "kel/base/text.h"
#include "kel/graphics/font.h"

namespace kel::test {

class FakeFont : public IKELFont {
 public:
  explicit FakeFont(double size = 10) : size_(size) {}

  double Size() const override { return size_; }
  TKELFontMetrics Metrics(const TKELFontFace& face) override {
    ++metricsCalls;
    return {face.Size, face.Size / 5, face.Size / 10};
  }
  void MeasureRun(const TKELFontFace& face, std::u16string_view run, double* advances) override {
    measured.emplace_back(run);
    for (size_t i = 0; i < run.size(); ++i)
      advances[i] = run[i] >= 0xDC00 && run[i] <= 0xDFFF ? 0 : face.Size / 2 + (face.Styles & fsBold ? 1 : 0);
  }

  // How often each run was measured (spaces and "…" included).
  size_t TimesMeasured(std::u16string_view run) const {
    return static_cast<size_t>(std::count(measured.begin(), measured.end(), run));
  }

  std::vector<std::u16string> measured;
  int metricsCalls = 0;

 private:
  double size_;
};

inline std::string ColorName(TKELColor color) {
  if (color == kelColorNone) return "none";
  if (color == kelColorDefault) return "default";
  char text[8];
  std::snprintf(text, sizeof text, "#%02X%02X%02X", kelRed(color), kelGreen(color), kelBlue(color));
  return text;
}

inline std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

// Records "run <text> <x>,<y> w<width> <colour> <styles><size>",
// "fill <left>,<top> <width>x<height> <colour>" and the clips.
class RecordingCanvas : public IKELCanvas {
 public:
  void SetFont(const TKELFontFace& face) override { face_ = face; }
  void SetTextColor(TKELColor color) override { color_ = color; }
  void FillRect(const TKELRectF& rect, TKELColor color) override {
    calls.push_back("fill " + Number(rect.Left) + "," + Number(rect.Top) + " " + Number(rect.Width()) + "x" +
                    Number(rect.Height()) + " " + ColorName(color));
  }
  void DrawRun(TKELPointF origin, std::u16string_view run, std::span<const double> advances) override {
    std::string styles;
    if (face_.Styles & fsBold) styles += 'B';
    if (face_.Styles & fsItalic) styles += 'I';
    if (face_.Styles & fsUnderline) styles += 'U';
    if (face_.Styles & fsStrikeOut) styles += 'S';
    calls.push_back("run " + kelUtf16ToUtf8(run) + " " + Number(origin.X) + "," + Number(origin.Y) + " w" +
                    Number(std::accumulate(advances.begin(), advances.end(), 0.0)) + " " + ColorName(color_) + " " +
                    styles + Number(face_.Size));
  }
  void PushClip(const TKELRectF& rect) override {
    calls.push_back("clip " + Number(rect.Left) + "," + Number(rect.Top) + " " + Number(rect.Width()) + "x" +
                    Number(rect.Height()));
  }
  void PopClip() override { calls.push_back("unclip"); }

  // The recorded calls of one kind ("run", "fill", "clip").
  std::vector<std::string> Calls(const std::string& kind) const {
    std::vector<std::string> found;
    for (const std::string& call : calls)
      if (call.starts_with(kind + " ")) found.push_back(call.substr(kind.size() + 1));
    return found;
  }

  std::vector<std::string> calls;

 private:
  TKELFontFace face_;
  TKELColor color_ = kelColorNone;
};

}  // namespace kel::test
