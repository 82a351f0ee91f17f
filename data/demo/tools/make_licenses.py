#!/usr/bin/env python3
"""Turns the licence texts of tools/licenses/License_<FAMILY>.txt into setup/License_<FAMILY>.rtf.

The source is UTF-8 text, one paragraph per line:
  "# text"   the title (centred, large, accent colour); the next line is its subtitle
  "## text"  a section heading
  "- text"   a bulleted list item
  other      an ordinary paragraph; blank lines are ignored

The RTF is plain RTF 1.x: one font, one accent colour, paragraphs with spacing.
Characters outside ASCII are written as \\uN escapes followed by the byte of
the document's code page (or "?"), so that readers with or without Unicode
support show them. The build does not run this script: the generated files
are committed.
"""

import glob
import os
import sys

DEMO_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# family -> (ANSI code page, font charset, default language id)
FAMILIES = {
    "EN": (1252, 0, 1033),
    "RU": (1251, 204, 1049),
}


def escape(text, codepage):
    out = []
    for ch in text:
        code = ord(ch)
        if ch in "\\{}":
            out.append("\\" + ch)
        elif 32 <= code < 127:
            out.append(ch)
        elif ch == "\t":
            out.append("\\tab ")
        else:
            try:
                fallback = "\\'%02x" % ch.encode("cp%d" % codepage)[0]
            except (UnicodeEncodeError, IndexError):
                fallback = "?"
            units = [code] if code < 0x10000 else [0xD800 + ((code - 0x10000) >> 10),
                                                  0xDC00 + ((code - 0x10000) & 0x3FF)]
            for unit in units:
                signed = unit - 0x10000 if unit > 32767 else unit
                out.append("\\u%d%s" % (signed, fallback if len(units) == 1 else "?"))
    return "".join(out)


def convert(source_text, family):
    codepage, charset, lang = FAMILIES[family]
    out = [
        "{\\rtf1\\ansi\\ansicpg%d\\deff0\\deflang%d\\uc1" % (codepage, lang),
        "{\\fonttbl{\\f0\\fswiss\\fcharset%d Segoe UI;}}" % charset,
        "{\\colortbl ;\\red176\\green98\\blue26;}",
        "\\viewkind4\\f0\\fs18",
    ]
    after_title = False
    for raw in source_text.splitlines():
        line = raw.strip()
        if not line:
            continue
        if line.startswith("# "):
            out.append("\\pard\\qc\\sb0\\sa60\\cf1\\b\\fs30 %s\\b0\\cf0\\fs18\\par" % escape(line[2:], codepage))
            after_title = True
            continue
        if after_title:
            out.append("\\pard\\qc\\sa240\\i %s\\i0\\par" % escape(line, codepage))
        elif line.startswith("## "):
            out.append("\\pard\\sb180\\sa60\\keepn\\b\\fs20 %s\\b0\\fs18\\par" % escape(line[3:], codepage))
        elif line.startswith("- "):
            out.append("\\pard\\fi-220\\li440\\sa60\\tx440 \\u8226\\'95\\tab %s\\par" % escape(line[2:], codepage))
        else:
            out.append("\\pard\\sa120 %s\\par" % escape(line, codepage))
        after_title = False
    out.append("}")
    return "\r\n".join(out) + "\r\n"


def main():
    sources = sorted(glob.glob(os.path.join(DEMO_DIR, "tools", "licenses", "License_*.txt")))
    if not sources:
        sys.exit("no licence sources")
    for source in sources:
        family = os.path.basename(source)[len("License_"):-len(".txt")]
        if family not in FAMILIES:
            sys.exit(f"{source}: unknown family {family}")
        with open(source, encoding="utf-8") as f:
            rtf = convert(f.read(), family)
        target = os.path.join(DEMO_DIR, "setup", f"License_{family}.rtf")
        with open(target, "w", encoding="ascii", newline="") as f:
            f.write(rtf)
        print(f"setup/License_{family}.rtf: {len(rtf)} bytes")


if __name__ == "__main__":
    main()
