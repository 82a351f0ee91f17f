#include "kel/graphics/text_layout_blocks.h"

namespace kel {

bool TKELTextLayoutBlockText::Accept(TKELTextLayoutExporter& exporter) { return exporter.Visit(*this); }
bool TKELTextLayoutBlockSpace::Accept(TKELTextLayoutExporter& exporter) { return exporter.Visit(*this); }
bool TKELTextLayoutBlockLineBreak::Accept(TKELTextLayoutExporter& exporter) { return exporter.Visit(*this); }
bool TKELTextLayoutBlockFontColor::Accept(TKELTextLayoutExporter& exporter) { return exporter.Visit(*this); }
bool TKELTextLayoutBlockFillColor::Accept(TKELTextLayoutExporter& exporter) { return exporter.Visit(*this); }
bool TKELTextLayoutBlockFontSize::Accept(TKELTextLayoutExporter& exporter) { return exporter.Visit(*this); }
bool TKELTextLayoutBlockFontBig::Accept(TKELTextLayoutExporter& exporter) { return exporter.Visit(*this); }
bool TKELTextLayoutBlockFontSmall::Accept(TKELTextLayoutExporter& exporter) { return exporter.Visit(*this); }
bool TKELTextLayoutBlockFontStyle::Accept(TKELTextLayoutExporter& exporter) { return exporter.Visit(*this); }
bool TKELTextLayoutBlockHyperlink::Accept(TKELTextLayoutExporter& exporter) { return exporter.Visit(*this); }

}  // namespace kel
