#!/usr/bin/python3
"""Spell-checks the texts the user sees, with Debian's hunspell dictionaries:
  - Czech (cs_CZ): the card manager's source texts, the viewer's Czech catalogue and
    the Czech pages;
  - English (en_US): the card manager's English catalogue, the viewer's source texts
    and the English pages.
   spelling_check.py <source root> <own words file>
Markup, entities, %1-style markers, and runs of letters with digits or underscores or
in camel case (numbers, hexadecimal values, identifiers such as C_Initialize or
anyPolicy) are left out first; so are the program's own words from the list (names,
acronyms, file suffixes: nothing a dictionary could correct).
Czech texts name English terms as they are ("Online Certificate Status Protocol"), so a
word of a Czech text passes when either dictionary knows it. An English text may hold a
whole sentence or a bracket in Czech (the language switch says its message in both
languages): such a part passes when the Czech dictionary knows all of its words.
Prints every misspelt word with its text and fails when there is one."""
import html
import html.parser
import re
import subprocess
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

CZECH, ENGLISH = "cs_CZ", "en_US"
# where one part of a text ends and the next may be in the other language
PART_BREAK = re.compile(r"<\s*/?\s*(?:p|br|li|ul|div|h\d)\b[^>]*>|[\n()]", re.I)
TAG = re.compile(r"<[^>]*>")
MARKER = re.compile(r"%(?:n|L?\d+)")
RUN = re.compile(r"[\w'’]+")
NOT_A_WORD = re.compile(r"[\d_]|[a-z][A-Z]")


def catalogue(path):
    """(source, translation) of each message; the translation empty when unfinished."""
    pairs = []
    for message in ET.parse(path).getroot().iter("message"):
        translation = message.find("translation")
        done = translation.get("type") not in ("unfinished", "vanished", "obsolete")
        pairs.append((message.find("source").text or "", (translation.text or "") if done else ""))
    return pairs


class PageText(html.parser.HTMLParser):
    """The visible texts of a page: text outside the head, and alt and title texts."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.parts, self.in_head = [], False

    def handle_starttag(self, tag, attrs):
        self.in_head = self.in_head or tag == "head"
        self.parts += [value for name, value in attrs if name in ("alt", "title") and value]

    def handle_endtag(self, tag):
        self.in_head = self.in_head and tag != "head"

    def handle_data(self, data):
        if not self.in_head:
            self.parts.append(data)


def page_texts(path):
    parser = PageText()
    parser.feed(path.read_text(encoding="utf-8"))
    return parser.parts


def words(part, own):
    text = MARKER.sub(" ", html.unescape(TAG.sub(" ", part)))
    text = own.sub(" ", text)
    found = []
    for run in RUN.findall(text):
        run = run.strip("'’")
        if run and not NOT_A_WORD.search(run):
            found.append(run)
    return found


def unknown(dictionary, tokens):
    """The tokens the dictionary does not know."""
    listing = "\n".join(sorted(set(tokens))) + "\n"
    out = subprocess.run(["hunspell", "-d", dictionary, "-l", "-i", "utf-8"], input=listing,
                         capture_output=True, text=True, check=True).stdout
    return set(out.split())


def main():
    root, own_file = Path(sys.argv[1]), Path(sys.argv[2])
    own_words = [line.split("#")[0].strip() for line in own_file.read_text().splitlines()]
    own_words = sorted((w for w in own_words if w), key=len, reverse=True)
    own = re.compile(r"(?<!\w)(?:" + "|".join(map(re.escape, own_words)) + r")(?!\w)")

    app = catalogue(root / "manager/app/translations/cardadmin_en.ts")
    viewer = catalogue(root / "manager/certview/translations/viewer_cs.ts")
    pages = root / "manager/app/pages"
    texts = []  # (language, where, text)
    texts += [(CZECH, "card manager source", s) for s, _ in app]
    texts += [(ENGLISH, "card manager English", t) for _, t in app if t]
    texts += [(ENGLISH, "viewer source", s) for s, _ in viewer]
    texts += [(CZECH, "viewer Czech", t) for _, t in viewer if t]
    for lang, folder in ((CZECH, "cz"), (ENGLISH, "en")):
        for page in sorted((pages / folder).glob("*.html")):
            texts += [(lang, f"page {folder}/{page.name}", t) for t in page_texts(page)]

    # (language, where, part, its words)
    parts = [(lang, where, part, words(part, own))
             for lang, where, text in texts for part in PART_BREAK.split(text)]
    every = [w for *_, found in parts for w in found]
    unknown_to = {CZECH: unknown(CZECH, every), ENGLISH: unknown(ENGLISH, every)}

    faults = []
    for lang, where, part, found in parts:
        other = ENGLISH if lang == CZECH else CZECH
        wrong = [w for w in found if w in unknown_to[lang]]
        if lang == CZECH:
            wrong = [w for w in wrong if w in unknown_to[other]]
        elif all(w not in unknown_to[other] for w in found):
            wrong = []  # a part in Czech
        if wrong:
            faults.append(f"{where} ({lang}): {', '.join(dict.fromkeys(wrong))} in {part.strip()!r}")
    for fault in faults:
        print(fault)
    print(f"spelling: {len(parts)} parts of {len(texts)} texts checked, {len(faults)} with "
          "misspelt words")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
