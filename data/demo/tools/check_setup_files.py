#!/usr/bin/env python3
"""Checks that the demo setup's files fit together.

usage: check_setup_files.py SETUP_DIR PAYLOAD_DIR

SETUP_DIR holds the files of the SETUP package, PAYLOAD_DIR those of the
PRODUCT package (the staged, built payload). Checked:
  - Install.xml is well-formed and has the groups the setup reads; every
    component's package file is in the payload and every payload file is
    installed; targets lie in the destination and are unique per language
    family; families are those of the language files;
  - finish-page actions name installed files and have their caption key in
    [PageFinish]; shortcuts lie on the desktop or in the menu and start an
    installed file; the product properties are complete and agree;
  - every licence is valid RTF with text in it, and English ("EN") exists as
    the fallback;
  - the wizard pictures are valid PNG files of the sizes the wizard draws;
  - addons.ini has its keys, a "CL" with one "%s", and names an executable
    installer and a picture that exist;
  - no file name is in both packages (the product package would hide the
    setup package's file).
Exit code 0 when all holds, 1 otherwise.
"""

import os
import re
import struct
import sys
import xml.etree.ElementTree as ElementTree
import zlib

sys.dont_write_bytecode = True  # run from the source tree: leave no cache folder there
import check_languages  # noqa: E402

problems = []


def problem(message):
    problems.append(message)


# --- RTF ------------------------------------------------------------------------


def rtf_text(data):
    """The text of an RTF document; raises ValueError where the syntax is broken."""
    if not data.startswith(b"{\\rtf1"):
        raise ValueError("does not start with {\\rtf1")
    if any(b > 127 for b in data):
        raise ValueError("holds bytes above 127 (characters must be escaped)")
    text = data.decode("ascii")
    out = []
    stack = []  # per group: (skip, unicode fallback count)
    skip, uc = False, 1
    i, n = 0, len(text)
    while i < n:
        ch = text[i]
        if ch == "{":
            stack.append((skip, uc))
            i += 1
            if text.startswith("\\*", i) or re.match(r"\\(fonttbl|colortbl|stylesheet|info)\b", text[i:]):
                skip = True
            continue
        if ch == "}":
            if not stack:
                raise ValueError(f"unbalanced '}}' at offset {i}")
            skip, uc = stack.pop()
            i += 1
            if not stack and text[i:].strip():
                raise ValueError("text after the closing brace of the document")
            continue
        if ch == "\\":
            word = re.match(r"\\([a-zA-Z]{1,32})(-?\d{1,10})? ?", text[i:])
            if word:
                name, param = word.group(1), word.group(2)
                i += word.end()
                if name == "uc" and param is not None:
                    uc = int(param)
                elif name == "u":
                    if param is None:
                        raise ValueError(f"\\u without a number at offset {i}")
                    code = int(param) & 0xFFFF
                    if not skip:
                        out.append(chr(code))
                    i = skip_fallback(text, i, uc)
                elif name in ("par", "line") and not skip:
                    out.append("\n")
                elif name == "tab" and not skip:
                    out.append("\t")
                continue
            if text.startswith("\\'", i):
                if not re.match(r"[0-9a-fA-F]{2}", text[i + 2:i + 4]):
                    raise ValueError(f"bad \\' escape at offset {i}")
                if not skip:
                    out.append(bytes([int(text[i + 2:i + 4], 16)]).decode("cp1252", "replace"))
                i += 4
                continue
            if i + 1 < n and text[i + 1] in "\\{}":
                if not skip:
                    out.append(text[i + 1])
                i += 2
                continue
            if i + 1 < n and text[i + 1] in "~-_*|:\r\n":
                i += 2
                continue
            raise ValueError(f"unknown control symbol at offset {i}: {text[i:i + 2]!r}")
        if ch not in "\r\n" and not skip:
            out.append(ch)
        i += 1
    if stack:
        raise ValueError(f"{len(stack)} group(s) not closed")
    return "".join(out)


def skip_fallback(text, i, count):
    for _ in range(count):
        if text.startswith("\\'", i):
            i += 4
        elif i < len(text) and text[i] not in "\\{}":
            i += 1
    return i


# --- PNG ------------------------------------------------------------------------


def png_size(data):
    """(width, height) of a PNG file; raises ValueError where it is broken."""
    if not data.startswith(b"\x89PNG\r\n\x1a\n"):
        raise ValueError("no PNG signature")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack_from(">I4s", data, pos)
        body = data[pos + 8:pos + 8 + length]
        (crc,) = struct.unpack_from(">I", data, pos + 8 + length)
        if zlib.crc32(kind + body) & 0xFFFFFFFF != crc:
            raise ValueError(f"bad CRC in chunk {kind!r}")
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            break
        pos += 12 + length
    if header is None:
        raise ValueError("no IHDR chunk")
    width, height, depth, colour = header[:4]
    channels = {0: 1, 2: 3, 4: 2, 6: 4}.get(colour)
    if depth != 8 or channels is None:
        raise ValueError(f"unexpected format (depth {depth}, colour type {colour})")
    raw = zlib.decompress(idat)
    if len(raw) != height * (1 + width * channels):
        raise ValueError("image data has the wrong size")
    return width, height


# --- the checks -------------------------------------------------------------------


def source_name(item):
    text = (item.text or "").strip()
    name = item.get("name", "")
    return text or re.split(r"[:\\/]", name)[-1]


def children(element, tag):
    return [child for child in element if child.tag.lower() == tag.lower()]


def check_script(setup, payload, families):
    try:
        root = ElementTree.parse(os.path.join(setup, "Install.xml")).getroot()
    except (OSError, ElementTree.ParseError) as error:
        problem(f"Install.xml: {error}")
        return
    product = children(root, "product")
    if not product:
        problem("Install.xml: no <product>")
        return
    product = product[0]

    components = [item for group in children(product, "Components") for item in children(group, "File")]
    if not components:
        problem("Install.xml: no component files")
    targets = {}
    used = set()
    for item in components:
        target, family = item.get("name", ""), item.get("lang-family", "")
        source = source_name(item)
        if not re.match(r"\$DEST[^/\\]", target):
            problem(f"Install.xml: component target {target!r} does not lie in the destination "
                    "(written as $DEST followed by a relative name)")
        if family and family.upper() not in families:
            problem(f"Install.xml: {target}: family {family!r} has no language file")
        if not os.path.isfile(os.path.join(payload, source)):
            problem(f"Install.xml: {target}: package file {source!r} is not in the payload")
        used.add(source.lower())
        targets.setdefault(target, []).append(family.upper())
    for target, item_families in targets.items():
        if len(item_families) > 1 and ("" in item_families or len(set(item_families)) < len(item_families)):
            problem(f"Install.xml: {target} is written twice for one language family: {item_families}")
    for name in sorted(os.listdir(payload)):
        if name.lower() not in used:
            problem(f"payload file {name!r} is not installed by any component")

    english = check_languages.parse("English.lng", check_languages.decode(
        "English.lng", open(os.path.join(setup, "English.lng"), "rb").read()))
    finish_keys = english.get("pagefinish", ("", {}))[1]
    installed = set(targets)
    for item in [i for group in children(product, "Actions") for i in children(group, "File")]:
        name = item.get("name", "")
        if name not in installed:
            problem(f"Install.xml: action {name!r} does not open an installed file")
        if source_name(item).lower() not in finish_keys:
            problem(f"Install.xml: action {name!r}: caption key {source_name(item)!r} is not in [PageFinish]")

    for item in [i for group in children(product, "Shortcuts") for i in children(group, "File")]:
        name, target = item.get("name", ""), source_name(item)
        if not re.match(r"\$(DESKTOP|STARTMENU)[^/\\]", name) or not name.endswith(".desktop"):
            problem(f"Install.xml: shortcut {name!r} is not a .desktop file on the desktop or in the menu")
        if target not in installed and target != "$DESTUninstall":
            problem(f"Install.xml: shortcut {name!r} starts {target!r}, which is not installed")

    properties = {}
    for group in children(product, "Settings"):
        for child in group:
            properties[child.get("name", "").lower()] = child.get("value", "")
    for key in ("ProductName", "Publisher", "ProductVersion", "ProductVersionId", "ProductVersionNo",
                "BuildDate", "HomePage"):
        if not properties.get(key.lower()):
            problem(f"Install.xml: property {key} is missing or empty")
    version, version_id = properties.get("productversion", ""), properties.get("productversionid", "")
    if version_id.isdigit():
        number = int(version_id)
        shown = f"{number // 1000}.{(number % 1000) // 10:02d}"
        if shown != version:
            problem(f"Install.xml: ProductVersionId {version_id} shows as {shown}, ProductVersion is {version}")
    else:
        problem(f"Install.xml: ProductVersionId {version_id!r} is not a number")
    if not properties.get("productversionno", "").startswith(version + "."):
        problem("Install.xml: ProductVersionNo does not continue ProductVersion")
    if not re.match(r"https?://", properties.get("homepage", "")):
        problem("Install.xml: HomePage is not a web address")

    setup_element = children(root, "setup")
    licences = children(children(setup_element[0], "license")[0], "File") if setup_element and children(
        setup_element[0], "license") else []
    if not any(item.get("lang-family", "").upper() in ("", "EN") for item in licences):
        problem("Install.xml: no licence for the family EN (the fallback of every language)")
    for item in licences:
        name = item.get("name", "")
        try:
            with open(os.path.join(setup, name), "rb") as f:
                text = rtf_text(f.read())
            if "ORVI" not in text or len(text) < 200:
                problem(f"{name}: the licence text is missing")
            if item.get("lang-family", "").upper() == "RU" and not re.search("[А-Яа-я]", text):
                problem(f"{name}: the Russian licence holds no Cyrillic text")
        except (OSError, ValueError) as error:
            problem(f"{name}: {error}")


def check_pictures(setup):
    for name, size in (("header.png", (640, 53)), ("header_dark.png", (640, 53)),
                       ("wizard_light.png", (188, 435)), ("wizard_dark.png", (188, 435))):
        try:
            with open(os.path.join(setup, name), "rb") as f:
                actual = png_size(f.read())
            if actual != size:
                problem(f"{name}: {actual[0]} x {actual[1]}, the wizard draws {size[0]} x {size[1]}")
        except (OSError, ValueError, zlib.error, struct.error) as error:
            problem(f"{name}: {error}")


def check_addons(setup):
    try:
        with open(os.path.join(setup, "addons.ini"), "rb") as f:
            lines = f.read().decode("ascii").splitlines()
    except (OSError, UnicodeDecodeError) as error:
        problem(f"addons.ini: {error}")
        return
    values = {}
    for line in lines:
        if "=" in line:
            key, value = line.split("=", 1)
            values.setdefault(key, value)
    for key in ("P1", "P2", "P3", "P4", "CL", "I0", "L0", "L1", "L2"):
        if not values.get(key):
            problem(f"addons.ini: {key} is missing or empty")
    if re.findall(r"%.", values.get("CL", "")) != ["%s"]:
        problem("addons.ini: CL must hold exactly one %s")
    installer = os.path.join(setup, values.get("P4", ""))
    if not (os.path.isfile(installer) and os.access(installer, os.X_OK)):
        problem(f"addons.ini: the installer {values.get('P4')!r} is not an executable file of the setup files")
    try:
        with open(os.path.join(setup, values.get("I0", "")), "rb") as f:
            png_size(f.read())
    except (OSError, ValueError, zlib.error, struct.error) as error:
        problem(f"addons.ini: the picture {values.get('I0')!r}: {error}")


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    setup, payload = sys.argv[1], sys.argv[2]
    families = set()
    for name in os.listdir(setup):
        if name.lower().endswith(".lng"):
            with open(os.path.join(setup, name), "rb") as f:
                text = check_languages.decode(name, f.read())
            header = check_languages.parse(name, text or "").get("file", ("", {}))[1]
            families.add(header.get("family", ("", "EN"))[1].upper())
    check_script(setup, payload, families)
    check_pictures(setup)
    check_addons(setup)
    both = {n.lower() for n in os.listdir(setup)} & {n.lower() for n in os.listdir(payload)}
    for name in sorted(both):
        problem(f"{name} is in both packages: the product package's copy would hide the setup file")
    problems.extend(check_languages.problems)
    for p in problems:
        print("FAIL: " + p)
    if problems:
        print(f"{len(problems)} problem(s) in the setup files")
        return 1
    print("setup files: script, licences, pictures and add-on description fit together")
    return 0


if __name__ == "__main__":
    sys.exit(main())
