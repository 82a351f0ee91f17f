#include "kel/ui/rtf_reader.h"

#include <algorithm>
#include <climits>
#include <unordered_map>

#include "kel/base/text.h"

namespace kel {

namespace {

// Where the text of a group goes.
enum class Destination : uint8_t { Text, FontTable, ColorTable, FieldInstruction };

// The state that a group saves and its end restores.
struct GroupState {
  TKELRtfCharFormat character;
  TKELRtfParagraphFormat paragraph;
  Destination destination = Destination::Text;
  int unicodeSkip = 1;  // \uc: fallback characters after each \uN
};

enum class Word : uint8_t {
  Unknown,
  // document
  Ansi, Mac, Pc, Pca, AnsiCodePage, DefaultFont, DefaultTab, UnicodeSkip, Unicode, Binary,
  // destinations
  FontTable, ColorTable, Field, FieldInstruction, FieldResult, Skip,
  // font table and colour table
  Font, FontNil, FontRoman, FontSwiss, FontModern, FontScript, FontDecor, FontTech, FontBidi, FontCharset,
  FontCodePage, Red, Green, Blue,
  // characters
  Plain, Bold, Italic, Underline, UnderlineNone, StrikeOut, Hidden, Caps, SmallCaps, Super, Sub, NoSuperSub,
  FontSize, Color, Background, Highlight,
  // paragraphs
  ParagraphDefault, AlignLeft, AlignRight, AlignCenter, AlignJustify, LeftIndent, RightIndent, FirstIndent,
  SpaceBefore, SpaceAfter, LineSpacing, LineMultiple, TabPosition, BarTab, TabRight, TabCenter, TabDecimal,
  InTable, TableLevel, RightToLeftParagraph, LeftToRightParagraph,
  // breaks and special characters
  Par, Line, Tab, Cell, Row, NestedCell, NestedRow, Page, Section, Column,
  EmDash, EnDash, Bullet, LeftQuote, RightQuote, LeftDoubleQuote, RightDoubleQuote, EmSpace, EnSpace,
  QuarterEmSpace, ZeroWidthJoiner, ZeroWidthNonJoiner, ZeroWidthBreak, ZeroWidthNoBreak, LeftToRightMark,
  RightToLeftMark,
  // tables
  RowDefault, CellRight, RowLeft, RowGap, RowAlignLeft, RowAlignCenter, RowAlignRight, CellBorder, RowBorder,
  BorderNone,
};

const std::unordered_map<std::string_view, Word>& Words() {
  static const std::unordered_map<std::string_view, Word> words = {
      {"ansi", Word::Ansi}, {"mac", Word::Mac}, {"pc", Word::Pc}, {"pca", Word::Pca},
      {"ansicpg", Word::AnsiCodePage}, {"deff", Word::DefaultFont}, {"deftab", Word::DefaultTab},
      {"uc", Word::UnicodeSkip}, {"u", Word::Unicode}, {"bin", Word::Binary},
      {"fonttbl", Word::FontTable}, {"colortbl", Word::ColorTable}, {"field", Word::Field},
      {"fldinst", Word::FieldInstruction}, {"fldrslt", Word::FieldResult},
      // Destinations whose content is no text of the document.
      {"stylesheet", Word::Skip}, {"info", Word::Skip}, {"pict", Word::Skip}, {"object", Word::Skip},
      {"shp", Word::Skip}, {"shpinst", Word::Skip}, {"nonshppict", Word::Skip}, {"header", Word::Skip},
      {"headerl", Word::Skip}, {"headerr", Word::Skip}, {"headerf", Word::Skip}, {"footer", Word::Skip},
      {"footerl", Word::Skip}, {"footerr", Word::Skip}, {"footerf", Word::Skip}, {"footnote", Word::Skip},
      {"annotation", Word::Skip}, {"listtable", Word::Skip}, {"listoverridetable", Word::Skip},
      {"pn", Word::Skip}, {"pnseclvl", Word::Skip}, {"pntxta", Word::Skip}, {"pntxtb", Word::Skip},
      {"revtbl", Word::Skip}, {"rsidtbl", Word::Skip}, {"filetbl", Word::Skip}, {"xe", Word::Skip},
      {"tc", Word::Skip}, {"txe", Word::Skip}, {"rxe", Word::Skip}, {"do", Word::Skip}, {"template", Word::Skip},
      {"docvar", Word::Skip}, {"fldtype", Word::Skip}, {"objdata", Word::Skip}, {"bkmkstart", Word::Skip},
      {"bkmkend", Word::Skip}, {"atnid", Word::Skip}, {"atnauthor", Word::Skip}, {"ftnsep", Word::Skip},
      {"ftnsepc", Word::Skip}, {"ftncn", Word::Skip}, {"aftnsep", Word::Skip}, {"aftnsepc", Word::Skip},
      {"aftncn", Word::Skip}, {"chftn", Word::Skip},
      {"f", Word::Font}, {"fnil", Word::FontNil}, {"froman", Word::FontRoman}, {"fswiss", Word::FontSwiss},
      {"fmodern", Word::FontModern}, {"fscript", Word::FontScript}, {"fdecor", Word::FontDecor},
      {"ftech", Word::FontTech}, {"fbidi", Word::FontBidi}, {"fcharset", Word::FontCharset},
      {"cpg", Word::FontCodePage}, {"red", Word::Red}, {"green", Word::Green}, {"blue", Word::Blue},
      {"plain", Word::Plain}, {"b", Word::Bold}, {"i", Word::Italic}, {"ul", Word::Underline},
      {"uld", Word::Underline}, {"uldash", Word::Underline}, {"uldashd", Word::Underline},
      {"uldashdd", Word::Underline}, {"uldb", Word::Underline}, {"ulhwave", Word::Underline},
      {"ulldash", Word::Underline}, {"ulth", Word::Underline}, {"ulthd", Word::Underline},
      {"ulthdash", Word::Underline}, {"ulthdashd", Word::Underline}, {"ulthdashdd", Word::Underline},
      {"ulthldash", Word::Underline}, {"ululdbwave", Word::Underline}, {"ulw", Word::Underline},
      {"ulwave", Word::Underline}, {"ulnone", Word::UnderlineNone}, {"strike", Word::StrikeOut},
      {"striked", Word::StrikeOut}, {"v", Word::Hidden}, {"caps", Word::Caps}, {"scaps", Word::SmallCaps},
      {"super", Word::Super}, {"sub", Word::Sub}, {"nosupersub", Word::NoSuperSub}, {"fs", Word::FontSize},
      {"cf", Word::Color}, {"cb", Word::Background}, {"chcbpat", Word::Background},
      {"highlight", Word::Highlight},
      {"pard", Word::ParagraphDefault}, {"ql", Word::AlignLeft}, {"qr", Word::AlignRight},
      {"qc", Word::AlignCenter}, {"qj", Word::AlignJustify}, {"qd", Word::AlignJustify},
      {"li", Word::LeftIndent}, {"lin", Word::LeftIndent}, {"ri", Word::RightIndent},
      {"rin", Word::RightIndent}, {"fi", Word::FirstIndent}, {"sb", Word::SpaceBefore},
      {"sa", Word::SpaceAfter}, {"sl", Word::LineSpacing}, {"slmult", Word::LineMultiple},
      {"tx", Word::TabPosition}, {"tb", Word::BarTab}, {"tqr", Word::TabRight}, {"tqc", Word::TabCenter},
      {"tqdec", Word::TabDecimal}, {"intbl", Word::InTable}, {"itap", Word::TableLevel},
      {"rtlpar", Word::RightToLeftParagraph}, {"ltrpar", Word::LeftToRightParagraph},
      {"par", Word::Par}, {"line", Word::Line}, {"lbr", Word::Line}, {"tab", Word::Tab}, {"cell", Word::Cell},
      {"row", Word::Row}, {"nestcell", Word::NestedCell}, {"nestrow", Word::NestedRow}, {"page", Word::Page},
      {"sect", Word::Section}, {"column", Word::Column},
      {"emdash", Word::EmDash}, {"endash", Word::EnDash}, {"bullet", Word::Bullet},
      {"lquote", Word::LeftQuote}, {"rquote", Word::RightQuote}, {"ldblquote", Word::LeftDoubleQuote},
      {"rdblquote", Word::RightDoubleQuote}, {"emspace", Word::EmSpace}, {"enspace", Word::EnSpace},
      {"qmspace", Word::QuarterEmSpace}, {"zwj", Word::ZeroWidthJoiner}, {"zwnj", Word::ZeroWidthNonJoiner},
      {"zwbo", Word::ZeroWidthBreak}, {"zwnbo", Word::ZeroWidthNoBreak}, {"ltrmark", Word::LeftToRightMark},
      {"rtlmark", Word::RightToLeftMark},
      {"trowd", Word::RowDefault}, {"cellx", Word::CellRight}, {"trleft", Word::RowLeft},
      {"trgaph", Word::RowGap}, {"trql", Word::RowAlignLeft}, {"trqc", Word::RowAlignCenter},
      {"trqr", Word::RowAlignRight}, {"clbrdrt", Word::CellBorder}, {"clbrdrl", Word::CellBorder},
      {"clbrdrb", Word::CellBorder}, {"clbrdrr", Word::CellBorder}, {"trbrdrt", Word::RowBorder},
      {"trbrdrl", Word::RowBorder}, {"trbrdrb", Word::RowBorder}, {"trbrdrr", Word::RowBorder},
      {"trbrdrh", Word::RowBorder}, {"trbrdrv", Word::RowBorder}, {"brdrnone", Word::BorderNone},
      {"brdrnil", Word::BorderNone},
  };
  return words;
}

// The characters that control words stand for.
char16_t SpecialChar(Word word) {
  switch (word) {
    case Word::Tab: return u'\t';
    case Word::Line: return u'\u2028';
    case Word::EmDash: return u'\u2014';
    case Word::EnDash: return u'\u2013';
    case Word::Bullet: return u'\u2022';
    case Word::LeftQuote: return u'\u2018';
    case Word::RightQuote: return u'\u2019';
    case Word::LeftDoubleQuote: return u'\u201C';
    case Word::RightDoubleQuote: return u'\u201D';
    case Word::EmSpace: return u'\u2003';
    case Word::EnSpace: return u'\u2002';
    case Word::QuarterEmSpace: return u'\u2005';
    case Word::ZeroWidthJoiner: return u'\u200D';
    case Word::ZeroWidthNonJoiner: return u'\u200C';
    case Word::ZeroWidthBreak: return u'\u200B';
    case Word::ZeroWidthNoBreak: return u'\uFEFF';
    case Word::LeftToRightMark: return u'\u200E';
    case Word::RightToLeftMark: return u'\u200F';
    default: return 0;
  }
}

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A length in twips, kept within a range that later arithmetic cannot overflow.
int Twips(int value) { return std::clamp(value, -(1 << 22), 1 << 22); }

// The arguments of a field instruction: words and quoted strings (with "\\"
// and "\"" escapes); switches ("\l") come back with their backslash.
std::vector<std::string> FieldArguments(std::string_view text) {
  std::vector<std::string> arguments;
  size_t pos = 0;
  while (pos < text.size()) {
    if (text[pos] == ' ' || text[pos] == '\t') {
      ++pos;
      continue;
    }
    std::string argument;
    if (text[pos] == '"') {
      for (++pos; pos < text.size() && text[pos] != '"'; ++pos) {
        if (text[pos] == '\\' && pos + 1 < text.size() && (text[pos + 1] == '\\' || text[pos + 1] == '"')) ++pos;
        argument += text[pos];
      }
      ++pos;
    } else {
      while (pos < text.size() && text[pos] != ' ' && text[pos] != '\t' && text[pos] != '"') argument += text[pos++];
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

}  // namespace

// One reading of a document: the tokenizer and the interpreter.
class TKELRtfReader::Parser {
 public:
  Parser(TKELRtfReader& reader, std::string_view data) : reader_(reader), data_(data) {}

  void Run() {
    while (pos_ < data_.size() && !finished_) {
      const char c = data_[pos_++];
      switch (c) {
        case '{': OpenGroup(); break;
        case '}': CloseGroup(); break;
        case '\\': ControlSequence(); break;
        case '\r':
        case '\n': break;
        case '\t': Special(u'\t'); break;
        default: TextByte(static_cast<uint8_t>(c)); break;
      }
    }
    if (stack_.empty()) return;  // the document's group ended and took its last paragraph along
    FlushText();
    if (!paragraph_.Text.empty()) EmitParagraph(false);
  }

 private:
  struct Field {
    size_t depth = 0;  // the depth of the field's group
    std::u16string instruction;
    bool parsed = false;
    const std::string* link = nullptr;
  };

  GroupState& State() { return stack_.back(); }

  // --- Groups -------------------------------------------------------------------

  void OpenGroup() {
    FlushText();
    unicodeSkipRemaining_ = 0;
    ignorable_ = false;
    if (stack_.size() >= static_cast<size_t>(kRtfMaxGroupDepth)) {
      SkipRestOfGroup();
      return;
    }
    stack_.push_back(stack_.empty() ? GroupState{} : stack_.back());
  }

  void CloseGroup() {
    FlushText();
    unicodeSkipRemaining_ = 0;
    ignorable_ = false;
    EndGroupState();
  }

  // Leaves the current group: its state goes, and the fields and tables
  // that it held end.
  void EndGroupState() {
    if (stack_.empty()) return;
    if (pendingHighSurrogate_) AppendText(u"");
    if (!fields_.empty() && fields_.back().depth == stack_.size()) fields_.pop_back();
    // The document's group ends: a last paragraph without \par is still one.
    if (stack_.size() == 1 && !paragraph_.Text.empty()) EmitParagraph(false);
    const Destination ending = State().destination;
    stack_.pop_back();
    if (stack_.empty()) {
      finished_ = true;
    } else if (ending == Destination::FontTable && State().destination != Destination::FontTable) {
      fontEntry_ = nullptr;
      defaultFontKnown_ = false;
    }
  }

  // Skips to the end of the current group (its closing brace consumed),
  // whatever it holds; \bin data is skipped as data.
  void SkipRestOfGroup() {
    int depth = 1;
    while (pos_ < data_.size()) {
      const char c = data_[pos_++];
      if (c == '{') {
        ++depth;
      } else if (c == '}') {
        if (--depth == 0) return;
      } else if (c == '\\' && pos_ < data_.size()) {
        if (!IsLetter(data_[pos_])) {
          ++pos_;
          continue;
        }
        const ParsedWord word = ParseWord();
        if (word.name == "bin" && word.hasParameter) SkipBinary(word.parameter);
      }
    }
  }

  void SkipDestination() {
    SkipRestOfGroup();
    EndGroupState();
  }

  // --- Tokens -----------------------------------------------------------------------

  struct ParsedWord {
    std::string_view name;
    bool hasParameter = false;
    int parameter = 0;
  };

  // A control word after its backslash: letters, an optional signed number
  // (saturating), and the space that may end it.
  ParsedWord ParseWord() {
    ParsedWord word;
    const size_t start = pos_;
    while (pos_ < data_.size() && IsLetter(data_[pos_])) ++pos_;
    word.name = data_.substr(start, pos_ - start);
    bool negative = false;
    if (pos_ + 1 < data_.size() && data_[pos_] == '-' && IsDigit(data_[pos_ + 1])) {
      negative = true;
      ++pos_;
    }
    if (pos_ < data_.size() && IsDigit(data_[pos_])) {
      word.hasParameter = true;
      int64_t value = 0;
      while (pos_ < data_.size() && IsDigit(data_[pos_])) {
        value = std::min<int64_t>(value * 10 + (data_[pos_] - '0'), int64_t{INT_MAX} + 1);
        ++pos_;
      }
      if (negative) value = -value;
      word.parameter = static_cast<int>(std::clamp<int64_t>(value, INT_MIN, INT_MAX));
    }
    if (pos_ < data_.size() && data_[pos_] == ' ') ++pos_;
    return word;
  }

  void SkipBinary(int count) {
    if (count > 0) pos_ += std::min(static_cast<size_t>(count), data_.size() - pos_);
  }

  void ControlSequence() {
    if (pos_ >= data_.size()) return;
    const char c = data_[pos_];
    if (IsLetter(c)) {
      const ParsedWord word = ParseWord();
      const auto found = Words().find(word.name);
      const Word kind = found != Words().end() ? found->second : Word::Unknown;
      if (unicodeSkipRemaining_ > 0) {  // a fallback of \uN: counts as one character
        --unicodeSkipRemaining_;
        if (kind == Word::Binary && word.hasParameter) SkipBinary(word.parameter);
        return;
      }
      HandleWord(kind, word);
      return;
    }
    ++pos_;
    if (c == '\'') {
      int value = 0, digits = 0;
      while (digits < 2 && pos_ < data_.size() && HexValue(data_[pos_]) >= 0) {
        value = value * 16 + HexValue(data_[pos_++]);
        ++digits;
      }
      if (digits > 0) TextByte(static_cast<uint8_t>(value));
      return;
    }
    if (c == '\r' || c == '\n') {
      if (unicodeSkipRemaining_ > 0) {
        --unicodeSkipRemaining_;
        return;
      }
      FlushText();
      if (State().destination == Destination::Text) EmitParagraph(false);
      return;
    }
    switch (c) {
      case '*': ignorable_ = true; return;
      case '\\':
      case '{':
      case '}': TextByte(static_cast<uint8_t>(c)); return;
      case '~': Special(u'\u00A0'); return;
      case '-': Special(u'\u00AD'); return;
      case '_': Special(u'\u2011'); return;
      default:
        // \: and \| and the like: no text
        if (unicodeSkipRemaining_ > 0) --unicodeSkipRemaining_;
        ignorable_ = false;
        return;
    }
  }

  // --- Control words ------------------------------------------------------------

  void HandleWord(Word kind, const ParsedWord& word) {
    FlushText();
    if (ignorable_) {
      ignorable_ = false;
      // Only the field instruction among the optional destinations matters.
      if (kind != Word::FieldInstruction) {
        SkipDestination();
        return;
      }
    }
    GroupState& state = State();
    const int n = word.parameter;
    const bool on = !word.hasParameter || n != 0;  // toggles: "\b" and "\b1" on, "\b0" off

    if (state.destination == Destination::FontTable && HandleFontTableWord(kind, word)) return;
    if (state.destination == Destination::ColorTable) {
      const int component = std::clamp(n, 0, 255);
      if (kind == Word::Red) red_ = component;
      if (kind == Word::Green) green_ = component;
      if (kind == Word::Blue) blue_ = component;
      if (kind == Word::Red || kind == Word::Green || kind == Word::Blue) colorGiven_ = true;
      return;
    }

    TKELRtfCharFormat& character = state.character;
    TKELRtfParagraphFormat& paragraph = state.paragraph;
    switch (kind) {
      case Word::Unknown:
        // \brdrs, \brdrdb, \brdrdot...: a border style, after the side it is for
        if (cellBorderOpen_ && word.name.substr(0, 4) == "brdr" && word.name != "brdrw" && word.name != "brdrcf")
          cell_.Border = true;
        return;
      // document
      case Word::Ansi: ansiCodePage_ = kRtfDefaultCodePage; return;
      case Word::Mac: ansiCodePage_ = 10000; return;
      case Word::Pc: ansiCodePage_ = 437; return;
      case Word::Pca: ansiCodePage_ = 850; return;
      case Word::AnsiCodePage:
        if (n > 0) ansiCodePage_ = n;
        return;
      case Word::DefaultFont:
        defaultFontNumber_ = n;
        defaultFontKnown_ = false;
        return;
      case Word::DefaultTab:
        if (n > 0) reader_.defaultTabWidth_ = Twips(n);
        return;
      case Word::UnicodeSkip: state.unicodeSkip = std::clamp(n, 0, 1 << 16); return;
      case Word::Unicode: Unicode(n); return;
      case Word::Binary:
        if (word.hasParameter) SkipBinary(n);
        return;
      // destinations
      case Word::FontTable: state.destination = Destination::FontTable; return;
      case Word::ColorTable:
        state.destination = Destination::ColorTable;
        colors_.clear();
        return;
      case Word::Field: fields_.push_back(Field{stack_.size()}); return;
      case Word::FieldInstruction:
        if (fields_.empty()) {
          SkipDestination();
        } else {
          fields_.back().instruction.clear();
          fields_.back().parsed = false;
          state.destination = Destination::FieldInstruction;
        }
        return;
      case Word::FieldResult:
        state.destination = Destination::Text;
        if (!fields_.empty()) character.Link = FieldLink(fields_.back());
        return;
      case Word::Skip: SkipDestination(); return;
      // characters
      case Word::Font: {
        const auto font = reader_.fonts_.find(n);
        if (font != reader_.fonts_.end()) character.Font = &font->second;
        return;
      }
      case Word::Plain: {
        const std::string* link = character.Link;
        character = TKELRtfCharFormat{};
        character.Link = link;
        return;
      }
      case Word::Bold: character.Bold = on; return;
      case Word::Italic: character.Italic = on; return;
      case Word::Underline: character.Underline = on; return;
      case Word::UnderlineNone: character.Underline = false; return;
      case Word::StrikeOut: character.StrikeOut = on; return;
      case Word::Hidden: character.Hidden = on; return;
      case Word::Caps: character.Caps = on ? TKELRtfCaps::AllCaps : TKELRtfCaps::Normal; return;
      case Word::SmallCaps: character.Caps = on ? TKELRtfCaps::SmallCaps : TKELRtfCaps::Normal; return;
      case Word::Super: character.Script = on ? TKELRtfScript::Superscript : TKELRtfScript::Normal; return;
      case Word::Sub: character.Script = on ? TKELRtfScript::Subscript : TKELRtfScript::Normal; return;
      case Word::NoSuperSub: character.Script = TKELRtfScript::Normal; return;
      case Word::FontSize:
        if (n > 0) character.FontSize = std::min(n, 3276);
        return;
      case Word::Color: character.Color = ColorAt(n); return;
      case Word::Background:
      case Word::Highlight: {
        const TKELColor color = ColorAt(n);
        character.Background = kelIsRGB(color) ? color : kelColorNone;
        return;
      }
      // paragraphs
      case Word::ParagraphDefault: paragraph = TKELRtfParagraphFormat{}; return;
      case Word::AlignLeft: paragraph.Alignment = TKELRtfAlignment::Left; return;
      case Word::AlignRight: paragraph.Alignment = TKELRtfAlignment::Right; return;
      case Word::AlignCenter: paragraph.Alignment = TKELRtfAlignment::Center; return;
      case Word::AlignJustify: paragraph.Alignment = TKELRtfAlignment::Justify; return;
      case Word::LeftIndent: paragraph.LeftIndent = Twips(n); return;
      case Word::RightIndent: paragraph.RightIndent = Twips(n); return;
      case Word::FirstIndent: paragraph.FirstLineIndent = Twips(n); return;
      case Word::SpaceBefore: paragraph.SpaceBefore = std::max(0, Twips(n)); return;
      case Word::SpaceAfter: paragraph.SpaceAfter = std::max(0, Twips(n)); return;
      case Word::LineSpacing: paragraph.LineSpacing = Twips(n); return;
      case Word::LineMultiple: paragraph.LineSpacingMultiple = n == 1; return;
      case Word::TabRight: tabKind_ = TKELRtfTabKind::Right; return;
      case Word::TabCenter: tabKind_ = TKELRtfTabKind::Center; return;
      case Word::TabDecimal: tabKind_ = TKELRtfTabKind::Decimal; return;
      case Word::TabPosition:
      case Word::BarTab:
        if (paragraph.TabStops.size() < kRtfMaxTabStops && n > 0)
          paragraph.TabStops.push_back(TKELRtfTabStop{Twips(n), tabKind_});
        tabKind_ = TKELRtfTabKind::Left;
        return;
      case Word::InTable: paragraph.InTable = true; return;
      case Word::TableLevel: paragraph.InTable = n > 0; return;
      case Word::RightToLeftParagraph: paragraph.RightToLeft = true; return;
      case Word::LeftToRightParagraph: paragraph.RightToLeft = false; return;
      // breaks
      case Word::Par:
      case Word::NestedCell:
        if (state.destination == Destination::Text) EmitParagraph(false);
        return;
      case Word::Cell:
        if (state.destination == Destination::Text) EmitParagraph(true);
        return;
      case Word::Row:
        if (state.destination != Destination::Text) return;
        if (!paragraph_.Text.empty()) EmitParagraph(true);
        reader_.sink_.EndRow(row_);
        return;
      case Word::NestedRow: return;
      case Word::Page:
      case Word::Section:
      case Word::Column:
        if (state.destination == Destination::Text && !paragraph_.Text.empty()) EmitParagraph(false);
        return;
      // tables
      case Word::RowDefault:
        row_ = TKELRtfRowFormat{};
        cell_ = TKELRtfCell{};
        cellBorderOpen_ = false;
        return;
      case Word::CellRight:
        cell_.RightEdge = Twips(n);
        if (row_.Cells.size() < kRtfMaxCells) row_.Cells.push_back(cell_);
        cell_ = TKELRtfCell{};
        cellBorderOpen_ = false;
        return;
      case Word::RowLeft: row_.Left = Twips(n); return;
      case Word::RowGap: row_.CellGap = std::max(0, Twips(n)); return;
      case Word::RowAlignLeft: row_.Alignment = TKELRtfAlignment::Left; return;
      case Word::RowAlignCenter: row_.Alignment = TKELRtfAlignment::Center; return;
      case Word::RowAlignRight: row_.Alignment = TKELRtfAlignment::Right; return;
      case Word::CellBorder: cellBorderOpen_ = true; return;
      case Word::RowBorder:  // the cells carry their own borders
      case Word::BorderNone: cellBorderOpen_ = false; return;
      default:
        if (const char16_t c = SpecialChar(kind)) Special(c);
        return;
    }
  }

  // The words of the font table; false for those that mean the same as
  // elsewhere.
  bool HandleFontTableWord(Word kind, const ParsedWord& word) {
    const auto family = [this](TKELRtfFontFamily value) {
      if (fontEntry_) fontEntry_->Family = value;
    };
    switch (kind) {
      case Word::Font:
        fontEntry_ = &reader_.fonts_[word.parameter];
        *fontEntry_ = TKELRtfFont{};
        fontNameOpen_ = true;
        defaultFontKnown_ = false;
        return true;
      case Word::FontNil: family(TKELRtfFontFamily::Nil); return true;
      case Word::FontRoman: family(TKELRtfFontFamily::Roman); return true;
      case Word::FontSwiss: family(TKELRtfFontFamily::Swiss); return true;
      case Word::FontModern: family(TKELRtfFontFamily::Modern); return true;
      case Word::FontScript: family(TKELRtfFontFamily::Script); return true;
      case Word::FontDecor: family(TKELRtfFontFamily::Decor); return true;
      case Word::FontTech: family(TKELRtfFontFamily::Tech); return true;
      case Word::FontBidi: family(TKELRtfFontFamily::Bidi); return true;
      case Word::FontCharset:
        if (fontEntry_) {
          fontEntry_->Symbol = word.parameter == 2;
          if (const int codePage = kelRtfCharsetCodePage(word.parameter)) fontEntry_->CodePage = codePage;
        }
        return true;
      case Word::FontCodePage:
        if (fontEntry_ && word.parameter > 0) fontEntry_->CodePage = word.parameter;
        return true;
      default: return false;
    }
  }

  TKELColor ColorAt(int index) const {
    return index >= 0 && static_cast<size_t>(index) < colors_.size() ? colors_[index] : kelColorDefault;
  }

  // The link a field's result gets: the target of a HYPERLINK instruction
  // (with its "\l" location after "#"); nothing for other fields and for
  // links within the document.
  const std::string* FieldLink(Field& field) {
    if (field.parsed) return field.link;
    field.parsed = true;
    const std::vector<std::string> arguments = FieldArguments(kelUtf16ToUtf8(field.instruction));
    if (arguments.empty() || !kelSameTextAscii(arguments[0], "HYPERLINK")) return nullptr;
    std::string target, location;
    for (size_t i = 1; i < arguments.size(); ++i) {
      const std::string& argument = arguments[i];
      if (argument.size() == 2 && argument[0] == '\\') {
        const char option = static_cast<char>(argument[1] | 0x20);
        if (option == 'l' && i + 1 < arguments.size()) location = arguments[++i];
        if ((option == 'o' || option == 't') && i + 1 < arguments.size()) ++i;
      } else if (target.empty()) {
        target = argument;
      }
    }
    if (target.empty()) return nullptr;
    if (!location.empty()) target += "#" + location;
    reader_.links_.push_back(std::move(target));
    field.link = &reader_.links_.back();
    return field.link;
  }

  // --- Text ---------------------------------------------------------------------------

  const TKELRtfFont* DefaultFont() {
    if (!defaultFontKnown_) {
      const auto found = reader_.fonts_.find(defaultFontNumber_);
      defaultFont_ = found != reader_.fonts_.end() ? &found->second : nullptr;
      defaultFontKnown_ = true;
    }
    return defaultFont_;
  }

  // The font whose character set decodes the current group's bytes.
  const TKELRtfFont* TextFont() {
    if (State().destination == Destination::FontTable) return fontEntry_;
    return State().character.Font ? State().character.Font : DefaultFont();
  }

  void TextByte(uint8_t byte) {
    ignorable_ = false;
    if (unicodeSkipRemaining_ > 0) {
      --unicodeSkipRemaining_;
      return;
    }
    if (byte < 0x20 && byte != '\t') return;
    switch (State().destination) {
      case Destination::Text:
        if (State().character.Hidden) return;
        break;
      case Destination::FontTable:
        if (byte == ';') {
          FlushText();
          if (fontEntry_) fontEntry_->Name = std::u16string(Trimmed(fontEntry_->Name));
          fontNameOpen_ = false;
          return;
        }
        if (!fontNameOpen_ || !fontEntry_) return;
        break;
      case Destination::ColorTable:
        if (byte == ';') {
          colors_.push_back(colorGiven_ ? kelRGB(red_, green_, blue_) : kelColorDefault);
          red_ = green_ = blue_ = 0;
          colorGiven_ = false;
        }
        return;
      case Destination::FieldInstruction: break;
    }
    const TKELRtfFont* font = TextFont();
    if (!pendingBytes_.empty() && font != pendingFont_) FlushText();
    pendingFont_ = font;
    pendingBytes_ += static_cast<char>(byte);
  }

  static std::u16string_view Trimmed(std::u16string_view text) {
    while (!text.empty() && text.front() <= u' ') text.remove_prefix(1);
    while (!text.empty() && text.back() <= u' ') text.remove_suffix(1);
    return text;
  }

  // Decodes the bytes gathered so far into the current destination.
  void FlushText() {
    if (pendingBytes_.empty()) return;
    decoded_.clear();
    const TKELRtfFont* font = pendingFont_;
    const int codePage = font && font->CodePage ? font->CodePage : ansiCodePage_;
    if (font && font->Symbol) {
      for (const char byte : pendingBytes_) {
        if (const char16_t c = kelRtfSymbolChar(font->Name, static_cast<uint8_t>(byte)))
          decoded_ += c;
        else
          reader_.codePages_.Decode(kRtfDefaultCodePage, std::string_view(&byte, 1), decoded_);
      }
    } else {
      reader_.codePages_.Decode(codePage, pendingBytes_, decoded_);
    }
    pendingBytes_.clear();
    AppendText(decoded_);
  }

  // \uN: the character, then the fallback characters are skipped.
  void Unicode(int n) {
    unicodeSkipRemaining_ = State().unicodeSkip;
    if (n < 0) n += 0x10000;
    if (n < 0 || n > 0xFFFF || (n < 0x20 && n != '\t')) return;
    if (State().destination == Destination::Text && State().character.Hidden) return;
    char16_t c = static_cast<char16_t>(n);
    const TKELRtfFont* font = TextFont();
    if (font && font->Symbol && c >= 0xF020 && c <= 0xF0FF) {
      const char byte = static_cast<char>(c & 0xFF);
      c = kelRtfSymbolChar(font->Name, static_cast<uint8_t>(byte));
      if (!c) {
        std::u16string one;
        reader_.codePages_.Decode(kRtfDefaultCodePage, std::string_view(&byte, 1), one);
        c = one.empty() ? u'\uFFFD' : one[0];
      }
    }
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (pendingHighSurrogate_) AppendText(u"");
      pendingHighSurrogate_ = c;
      return;
    }
    if (c >= 0xDC00 && c <= 0xDFFF) {
      if (!pendingHighSurrogate_) {
        AppendText(u"\uFFFD");
        return;
      }
      const char16_t pair[] = {pendingHighSurrogate_, c};
      pendingHighSurrogate_ = 0;
      AppendText(std::u16string_view(pair, 2));
      return;
    }
    AppendText(std::u16string_view(&c, 1));
  }

  // A character that a control word or symbol stands for.
  void Special(char16_t c) {
    ignorable_ = false;
    if (unicodeSkipRemaining_ > 0) {
      --unicodeSkipRemaining_;
      return;
    }
    FlushText();
    if (State().destination == Destination::Text && State().character.Hidden) return;
    AppendText(std::u16string_view(&c, 1));
  }

  // Hands decoded text to the current destination. A high surrogate still
  // waiting for its pair becomes U+FFFD first.
  void AppendText(std::u16string_view text) {
    if (pendingHighSurrogate_ && !(text.size() == 2 && text[0] == pendingHighSurrogate_)) {
      pendingHighSurrogate_ = 0;
      AppendText(u"\uFFFD");
    }
    if (text.empty()) return;
    switch (State().destination) {
      case Destination::Text: AppendToParagraph(text); return;
      case Destination::FontTable:
        if (fontEntry_ && fontNameOpen_) fontEntry_->Name += text;
        return;
      case Destination::FieldInstruction:
        if (!fields_.empty()) fields_.back().instruction += text;
        return;
      case Destination::ColorTable: return;
    }
  }

  void AppendToParagraph(std::u16string_view text) {
    TKELRtfCharFormat format = State().character;
    if (!format.Font) format.Font = DefaultFont();
    std::vector<TKELRtfRun>& runs = paragraph_.Runs;
    if (!runs.empty() && runs.back().Start + runs.back().Length == paragraph_.Text.size() &&
        runs.back().Format == format) {
      runs.back().Length += text.size();
    } else {
      runs.push_back(TKELRtfRun{paragraph_.Text.size(), text.size(), format});
    }
    paragraph_.Text += text;
  }

  void EmitParagraph(bool endsCell) {
    FlushText();
    paragraph_.Format = State().paragraph;
    paragraph_.MarkFormat = State().character;
    if (!paragraph_.MarkFormat.Font) paragraph_.MarkFormat.Font = DefaultFont();
    paragraph_.Row = &row_;
    paragraph_.EndsCell = endsCell;
    reader_.sink_.Paragraph(paragraph_);
    paragraph_.Text.clear();
    paragraph_.Runs.clear();
  }

  TKELRtfReader& reader_;
  const std::string_view data_;
  size_t pos_ = 0;
  bool finished_ = false;
  std::vector<GroupState> stack_;

  bool ignorable_ = false;  // \* came before this control word
  int unicodeSkipRemaining_ = 0;
  char16_t pendingHighSurrogate_ = 0;
  std::string pendingBytes_;  // text bytes not decoded yet, all in the font below
  const TKELRtfFont* pendingFont_ = nullptr;
  std::u16string decoded_;

  int ansiCodePage_ = kRtfDefaultCodePage;
  int defaultFontNumber_ = 0;
  bool defaultFontKnown_ = false;
  const TKELRtfFont* defaultFont_ = nullptr;

  TKELRtfFont* fontEntry_ = nullptr;  // the font table entry being read
  bool fontNameOpen_ = false;
  std::vector<TKELColor> colors_;
  int red_ = 0, green_ = 0, blue_ = 0;
  bool colorGiven_ = false;

  std::vector<Field> fields_;
  TKELRtfTabKind tabKind_ = TKELRtfTabKind::Left;
  TKELRtfRowFormat row_;
  TKELRtfCell cell_;             // the cell being defined, up to its \cellx
  bool cellBorderOpen_ = false;  // a side of its border is being defined
  TKELRtfParagraph paragraph_;
};

TKELRtfReader::TKELRtfReader(IKELRtfSink& sink) : sink_(sink) {}
TKELRtfReader::~TKELRtfReader() = default;

bool TKELRtfReader::IsRtf(std::string_view data) {
  const size_t start = data.find_first_not_of(" \t\r\n");
  return start != std::string_view::npos && data.substr(start, 5) == "{\\rtf";
}

bool TKELRtfReader::Read(std::string_view data) {
  if (!IsRtf(data)) return false;
  Parser(*this, data.substr(data.find('{'))).Run();
  return true;
}

}  // namespace kel
