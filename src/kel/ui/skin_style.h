// The look of the Qt controls built from a skin: a palette for what the
// style draws from colours (labels, check and radio boxes, selections, links,
// hints) and a style sheet for the controls the skin shapes further (buttons,
// edits and memos, scroll bars, progress bars, hints, menus). Items the skin
// leaves undefined keep the style's own colours and lengths.
#pragma once

#include <QColor>
#include <QPalette>
#include <QString>
#include <string_view>

#include "kel/graphics/skin.h"

namespace kel {

QColor kelToQColor(TKELSkinColor color);

// The skin's colours over `base` (the style's standard palette).
QPalette kelSkinPalette(const TKELSkin& skin, const QPalette& base);

// The style sheet of the controls, its lengths (designed at 96 DPI) at `dpi`.
QString kelSkinStyleSheet(const TKELSkin& skin, int dpi);

}  // namespace kel
