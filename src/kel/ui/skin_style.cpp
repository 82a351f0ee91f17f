#include "kel/ui/skin_style.h"

#include <QMenu>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>
#include <algorithm>

#include "kel/ui/dpi.h"

namespace kel {

namespace {

// A colour of the skin: the first of the identifiers that resolves.
std::optional<QColor> ColorOf(const TKELSkin& skin, std::initializer_list<std::string_view> ids) {
  for (const std::string_view id : ids)
    if (const std::optional<TKELSkinColor> color = skin.Color(id)) return kelToQColor(*color);
  return std::nullopt;
}

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

TKELSkinStyle::TKELSkinStyle() : QProxyStyle(QStyleFactory::create("Fusion")) {}

void TKELSkinStyle::SetSkin(const TKELSkin& skin, int dpi) {
  skin_ = skin;
  dpi_ = dpi;
}

std::optional<QColor> TKELSkinStyle::Color(std::initializer_list<std::string_view> ids) const {
  return ColorOf(skin_, ids);
}

int TKELSkinStyle::Scale(int length) const { return std::max(length > 0 ? 1 : 0, kelScaleByDpi(length, dpi_)); }

void TKELSkinStyle::DrawFrame(QPainter* painter, const QRect& rect, const QColor& border, const QBrush& fill,
                              int radius) const {
  painter->save();
  painter->setRenderHint(QPainter::Antialiasing, radius > 0);
  const int width = Scale(1);
  const qreal half = width / 2.0;
  painter->setPen(QPen(border, width));
  painter->setBrush(fill);
  const QRectF inner = QRectF(rect).adjusted(half, half, -half, -half);
  if (radius > 0)
    painter->drawRoundedRect(inner, radius, radius);
  else
    painter->drawRect(inner);
  painter->restore();
}

int TKELSkinStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const {
  switch (metric) {
    case PM_MenuPanelWidth:
      if (Color({"Popup.Colors.Border1"})) return Scale(1);
      break;
    case PM_MenuHMargin:
    case PM_MenuVMargin:
      if (const std::optional<TKELSkinMargins> borders = skin_.Margins("Popup.Margins.Borders"))
        return Scale(metric == PM_MenuHMargin ? borders->Left : borders->Top);
      break;
    default:
      break;
  }
  return QProxyStyle::pixelMetric(metric, option, widget);
}

void TKELSkinStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                  const QWidget* widget) const {
  const bool focused = option->state & State_HasFocus;
  switch (element) {
    case PE_PanelMenu:
    case PE_FrameMenu:
      if (const std::optional<QColor> border = Color({"Popup.Colors.Border1"})) {
        const std::optional<TKELSkinMargins> radius = skin_.Margins("Popup.Margins.CornerRadius");
        const std::optional<QColor> item = Color({"Popup.Colors.Item"});
        const QBrush fill = element == PE_PanelMenu && item ? QBrush(*item) : QBrush(Qt::NoBrush);
        DrawFrame(painter, option->rect, *border, fill, radius ? Scale(radius->Left) : 0);
        return;
      }
      break;
    case PE_PanelLineEdit:
    case PE_FrameLineEdit:
    case PE_Frame:
      if (const std::optional<QColor> border =
              focused ? Color({"EditBox.Colors.BorderFocused"}) : Color({"EditBox.Colors.Border"})) {
        const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option);
        const bool framed = element != PE_PanelLineEdit || (frame && frame->lineWidth > 0);
        const QBrush fill = element == PE_PanelLineEdit ? option->palette.base() : QBrush(Qt::NoBrush);
        if (framed)
          DrawFrame(painter, option->rect, *border, fill);
        else
          painter->fillRect(option->rect, fill);
        return;
      }
      break;
    case PE_PanelTipLabel:
      if (const std::optional<QColor> border = Color({"Hint.Colors.Border"})) {
        QLinearGradient gradient(option->rect.topLeft(), option->rect.bottomLeft());
        gradient.setColorAt(0, Color({"Hint.Colors.Background1"}).value_or(option->palette.toolTipBase().color()));
        gradient.setColorAt(1, Color({"Hint.Colors.Background2", "Hint.Colors.Background1"})
                                   .value_or(option->palette.toolTipBase().color()));
        DrawFrame(painter, option->rect, *border, gradient);
        return;
      }
      break;
    case PE_PanelButtonCommand: {
      const bool down = option->state & (State_Sunken | State_On);
      const bool enabled = option->state & State_Enabled;
      const std::optional<QColor> border =
          !enabled                             ? Color({"Common.Colors.Border1"})
          : focused                            ? Color({"EditBox.Colors.BorderFocused"})
          : option->state & State_MouseOver    ? Color({"Popup.Colors.ItemSelected"})
                                               : Color({"Common.Colors.Border1"});
      const std::optional<QColor> fill =
          down || !enabled ? Color({"Common.Colors.ContentDisabled"}) : Color({"Common.Colors.Content"});
      if (border && fill) {
        DrawFrame(painter, option->rect, *border, *fill);
        return;
      }
      break;
    }
    default:
      break;
  }
  QProxyStyle::drawPrimitive(element, option, painter, widget);
}

void TKELSkinStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                                const QWidget* widget) const {
  switch (element) {
    case CE_ProgressBarGroove:
      if (const std::optional<QColor> border = Color({"ProgressBox.Colors.Border1"})) {
        DrawFrame(painter, option->rect, *border, Color({"ProgressBox.Colors.Content"}).value_or(QColor(Qt::white)));
        return;
      }
      break;
    case CE_ProgressBarContents:
      if (const auto* bar = qstyleoption_cast<const QStyleOptionProgressBar*>(option)) {
        const std::optional<QColor> done = Color({"Common.Colors.Activity1"});
        if (!done) break;
        const QRect inner = option->rect.adjusted(Scale(1), Scale(1), -Scale(1), -Scale(1));
        const qint64 range = qint64(bar->maximum) - bar->minimum;
        const qint64 part = range > 0 ? qint64(bar->progress) - bar->minimum : 0;
        const bool vertical = !(bar->state & State_Horizontal);
        const int length = vertical ? inner.height() : inner.width();
        const int filled = range > 0 ? static_cast<int>(std::clamp<qint64>(part * length / range, 0, length)) : 0;
        QRect chunk = inner;
        if (vertical)
          chunk.setTop(inner.bottom() + 1 - filled);
        else if (bar->invertedAppearance != (bar->direction == Qt::RightToLeft))
          chunk.setLeft(inner.right() + 1 - filled);
        else
          chunk.setWidth(filled);
        painter->fillRect(chunk, *done);
        return;
      }
      break;
    default:
      break;
  }
  QProxyStyle::drawControl(element, option, painter, widget);
}

void TKELSkinStyle::polish(QWidget* widget) {
  QProxyStyle::polish(widget);
  // Rounded popups show what lies under their corners.
  if (qobject_cast<QMenu*>(widget) && skin_.Margins("Popup.Margins.CornerRadius"))
    widget->setAttribute(Qt::WA_TranslucentBackground);
}

}  // namespace kel
