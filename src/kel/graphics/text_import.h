// The importer of formatted text: marked-up text to blocks.
//
// Markup: [B] [I] [U] [S] (bold, italic, underline, strike-out),
// [COLOR=c] and [BACKCOLOR=c] (colour values as kelStringToColor reads them),
// [BIG] and [SMALL] (1.1 and 0.9 times the current size), [SIZE=n] (an
// integer is a size in points, a number with a fraction a factor of the
// current size, anything else no change), [URL=target] and [URL], each closed
// by the same name after "/". A tag runs from "[" to the next "]"; its name
// (up to "=" in opening tags) is compared ignoring ASCII case and must match
// exactly; a closing tag takes no value. Anything else in brackets is text.
// CR LF, CR and LF are line breaks, and so is "\n" when allowed.
//
// Text is cut into words at spaces, tabs, line ends and the delimiters
// (brackets, parentheses, backslash, zero-width space, curly quotes and the
// common CJK, full-width and Arabic punctuation); each delimiter is a text
// block of its own, so rows may break after it. Outside [URL] links, words
// may become links: e-mail addresses ("mailto:"), URLs (with "://" or ":\\",
// or "www." names, given "https://") and time codes such as 1:02:03
// ("time:3723", in seconds).
#pragma once

#include <string_view>

#include "kel/graphics/text_layout_blocks.h"

namespace kel {

struct TKELTextImportSettings {
  bool AutoDetectEmails = false;
  bool AutoDetectTimeCodes = false;
  bool AutoDetectURLs = true;
  bool AllowLineBreakEscape = true;  // "\n" is a line break
  bool AllowFormatting = true;       // tags; when off, brackets are text
};

// Appends the blocks of `text` (which ends at its first NUL) to `blocks`.
// Text blocks point into `text` and, for their advances, into `advances`
// (one entry per code unit of text, at the same index); both must outlive
// the blocks.
void kelImportFormattedText(std::u16string_view text, double* advances, const TKELTextImportSettings& settings,
                            TKELTextLayoutBlockList& blocks);

// A link target that is a URL in the sense of the URL detector: ":" right
// before "//" or "\\".
bool kelIsUrlTarget(std::string_view target);

}  // namespace kel
