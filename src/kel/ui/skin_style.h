// The look of the Qt controls built from a skin: a palette for what the
// style draws from colours (labels, check and radio boxes, selections, links,
// hints, scroll bars) and a style, over the toolkit's base style, that draws
// the controls the skin shapes further in its colours and lengths (buttons,
// edit boxes and memos, progress bars, hints, menus). Items the skin leaves
// undefined keep the base style's own colours and lengths.
//
// A style rather than a style sheet: Qt gives every widget the font of its
// parent again whenever an application's style sheet changes, so a theme
// switch would undo the fonts the wizard sizes with the DPI.
#pragma once

#include <QColor>
#include <QPalette>
#include <QProxyStyle>
#include <optional>
#include <string_view>

#include "kel/graphics/skin.h"

namespace kel {

QColor kelToQColor(TKELSkinColor color);

// The skin's colours over `base` (the style's standard palette).
QPalette kelSkinPalette(const TKELSkin& skin, const QPalette& base);

class TKELSkinStyle : public QProxyStyle {
  Q_OBJECT

 public:
  TKELSkinStyle();

  // The skin drawn with, its lengths (designed at 96 DPI) at `dpi`.
  void SetSkin(const TKELSkin& skin, int dpi);

  int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                  const QWidget* widget = nullptr) const override;
  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget = nullptr) const override;
  void polish(QWidget* widget) override;
  using QProxyStyle::polish;

 private:
  std::optional<QColor> Color(std::initializer_list<std::string_view> ids) const;
  int Scale(int length) const;
  // A frame of 1 scaled pixel in the colour, filled with `fill` when given.
  void DrawFrame(QPainter* painter, const QRect& rect, const QColor& border, const QBrush& fill,
                 int radius = 0) const;

  TKELSkin skin_;
  int dpi_ = 96;
};

}  // namespace kel
