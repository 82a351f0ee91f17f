#!/usr/bin/env python3
"""Checks the language files of the demo setup.

usage: check_languages.py [SETUP_DIR]

English.lng must define every key that the setup looks up (the table below);
every other *.lng must define exactly the same keys, no more and no fewer.
Also checked, for every file: the encoding (byte order mark, strict
decoding), the line syntax (no text before the first section, no line
without "=", no blanks around key names, no duplicate key), the [File]
header (name, numeric language id and version, family, a 16 x 16 icon),
the placeholders of the format texts, the variables, and the balance of the
formatting tags. Exit code 0 when all holds, 1 otherwise.
"""

import os
import re
import struct
import sys

# Every section and key the setup reads from a language file.
REQUIRED = {
    "File": ["Name", "LangId", "Icon", "Author", "VersionId", "Family"],
    "Common": ["Caption", "bBack", "bNext", "bInstall", "bUninstall", "bFinish",
               "QM", "QM2", "lBrowse", "lNewFolder", "lOk", "lCancel",
               "E1", "E3", "E4",
               "A1", "A2", "A3", "A4", "A5", "A6", "A7", "A8", "A9", "W1", "W2"],
    "PageWelcome": ["Title", "Description", "L1", "L2"],
    "PageLicense": ["Title", "Description", "L1"],
    "PageSetup": ["Title", "Description", "LB1", "Browse", "CB1", "CB4", "LB2",
                  "CB3", "CB3Hint", "CB2", "W1", "W3"],
    "PageAddons": ["Title", "Description", "L0", "CB1", "CB2", "CB3", "L1", "L2"],
    "PageIntegration": ["Title", "Description", "LB1", "CB1", "CB2", "LB2", "CB4",
                        "CB4Hint", "CB3", "CB5"],
    "PageReadyToInstall": ["Title", "Description"],
    "PageInstall": ["Title", "Description", "L1"],
    "PageFinish": ["Title", "Description", "L1", "L2", "E1", "E2", "L3", "CB1", "CB2"],
    "PageUninstallParams": ["Title", "Description", "CB1", "CB2"],
    "PageUninstall": ["Title", "Description", "L1"],
    "PageUninstallFinish": ["Title", "Description", "L1", "L2", "E1", "E2"],
}

# Texts used as format strings, with the number of "%s" each one takes.
FORMATS = {
    ("Common", "QM2"): 1,
    ("Common", "E1"): 1,
    ("Common", "E3"): 1,
    ("Common", "W1"): 1,
    ("Common", "W2"): 1,
    ("PageAddons", "L1"): 1,
    ("PageAddons", "L2"): 2,
}

FORMAT_ARGUMENTS = {(section.lower(), key.lower()): count for (section, key), count in FORMATS.items()}

VARIABLES = {"DEST", "TEMP", "LINK", "NAME", "VERSION", "DESKTOP", "STARTMENU", "PROGRAMS"}
TAGS = ("B", "I", "U", "S", "COLOR", "BACKCOLOR", "BIG", "SMALL", "SIZE", "URL")

problems = []


def problem(name, message):
    problems.append(f"{name}: {message}")


def decode(name, data):
    for bom, codec in ((b"\xef\xbb\xbf", "utf-8"), (b"\xff\xfe", "utf-16-le"), (b"\xfe\xff", "utf-16-be")):
        if data.startswith(bom):
            try:
                return data[len(bom):].decode(codec)
            except UnicodeDecodeError as error:
                problem(name, f"not valid {codec}: {error}")
                return None
    problem(name, "no byte order mark: the file would be read in the system's ANSI code page")
    return None


def parse(name, text):
    """Sections as {lower-case name: (name, {lower-case key: (key, value)})}, the way the setup reads them."""
    sections = {}
    current = None
    for number, line in enumerate(re.split(r"\r\n|\r|\n|\u2028", text), 1):
        if not line:
            continue
        if line.startswith("["):
            if not line.endswith("]"):
                problem(name, f"line {number}: section header without closing bracket")
            section = line[1:-1]
            current = sections.setdefault(section.lower(), (section, {}))[1]
            continue
        if current is None:
            problem(name, f"line {number}: text before the first section is ignored")
            continue
        if "=" not in line:
            problem(name, f"line {number}: no \"=\" in {line!r}")
            continue
        key, value = line.split("=", 1)
        if key != key.strip() or not key:
            problem(name, f"line {number}: blank around or empty key {key!r}")
        if key.lower() in current:
            problem(name, f"line {number}: duplicate key {key!r} (only the first is read)")
            continue
        current[key.lower()] = (key, value)
    return sections


def check_icon(name, hex_text):
    try:
        data = bytes.fromhex(hex_text)
    except ValueError:
        problem(name, "Icon is not a hexadecimal byte stream")
        return
    if hex_text != hex_text.lower():
        problem(name, "Icon should be written in lower-case hexadecimal digits")
    if len(data) < 22 or struct.unpack_from("<HHH", data, 0)[:2] != (0, 1):
        problem(name, "Icon is not an icon file")
        return
    count = struct.unpack_from("<H", data, 4)[0]
    sizes = []
    for i in range(count):
        w, h, _, _, _, _, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        if offset + size > len(data):
            problem(name, "Icon: an image lies outside the file")
        sizes.append((w or 256, h or 256))
    if (16, 16) not in sizes:
        problem(name, f"Icon has no 16 x 16 image: {sizes}")


def check_value(name, section, key, value):
    wanted = FORMAT_ARGUMENTS.get((section.lower(), key.lower()))
    if wanted is not None:
        placeholders = re.findall(r"%(.)", value.replace("%%", ""))
        if placeholders != ["s"] * wanted:
            problem(name, f"[{section}] {key}: wants {wanted} \"%s\", has {placeholders}")
    for match in re.finditer(r"\$([A-Za-z_]*)", value):
        word = match.group(1)
        if word not in VARIABLES:
            problem(name, f"[{section}] {key}: unknown variable ${word} (known: {sorted(VARIABLES)})")
    depth = {}
    for match in re.finditer(r"\[(/?)([A-Za-z]+)(=[^\]]*)?\]", value):
        closing, tag = match.group(1), match.group(2).upper()
        if tag in TAGS:
            depth[tag] = depth.get(tag, 0) + (-1 if closing else 1)
            if depth[tag] < 0:
                problem(name, f"[{section}] {key}: [/{tag}] without opening tag")
    for tag, level in depth.items():
        if level > 0:
            problem(name, f"[{section}] {key}: [{tag}] is not closed")


def load(folder, name):
    with open(os.path.join(folder, name), "rb") as f:
        text = decode(name, f.read())
    if text is None:
        return None
    sections = parse(name, text)
    header = sections.get("file", ("File", {}))[1]
    for key in ("Name", "Family"):
        if not header.get(key.lower(), ("", ""))[1]:
            problem(name, f"[File] {key} is empty")
    for key in ("LangId", "VersionId"):
        if not re.fullmatch(r"\d+", header.get(key.lower(), ("", ""))[1]):
            problem(name, f"[File] {key} is not a number")
    if "icon" in header:
        check_icon(name, header["icon"][1])
    for section, keys in sections.values():
        for key, value in keys.values():
            check_value(name, section, key, value)
    return sections


def key_set(sections):
    return {(section.lower(), key.lower()) for section, keys in sections.values() for key in keys}


def spelling(sections):
    return {(section.lower(), key.lower()): (section, key)
            for section, keys in sections.values() for key, _ in keys.values()}


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                                 "..", "setup")
    names = sorted(n for n in os.listdir(folder) if n.lower().endswith(".lng"))
    if "English.lng" not in names:
        print("FAIL: no English.lng")
        return 1
    english = load(folder, "English.lng")
    if english is None:
        print("\n".join("FAIL: " + p for p in problems))
        return 1
    english_keys = key_set(english)
    for section, keys in REQUIRED.items():
        for key in keys:
            if (section.lower(), key.lower()) not in english_keys:
                problem("English.lng", f"[{section}] {key} is missing")
    spelled = spelling(english)
    families = {}
    for name in names:
        sections = english if name == "English.lng" else load(folder, name)
        if sections is None:
            continue
        families.setdefault(sections.get("file", ("", {}))[1].get("family", ("", "EN"))[1].upper(), []).append(name)
        if name == "English.lng":
            continue
        keys = key_set(sections)
        for missing in sorted(english_keys - keys):
            problem(name, "missing [%s] %s" % spelled[missing])
        for extra in sorted(keys - english_keys):
            problem(name, "[%s] %s is not in English.lng" % spelling(sections)[extra])
    for p in problems:
        print("FAIL: " + p)
    if problems:
        print(f"{len(problems)} problem(s) in the language files")
        return 1
    print(f"language files: {', '.join(names)} define the same {len(english_keys)} keys; "
          f"families {', '.join(f'{k}={v}' for k, v in sorted(families.items()))}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
