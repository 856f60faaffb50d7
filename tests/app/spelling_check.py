#!/usr/bin/python3
"""Spell-checks the texts the user sees, with Debian's hunspell dictionaries:
  - Czech (cs_CZ): the card manager's source texts, the viewer's Czech catalogue and
    the Czech pages;
  - English (en_US): the card manager's English catalogue, the viewer's source texts
    and the English pages.
   spelling_check.py <source root> <own words file> <English terms of the Czech texts>
Each text is checked against the dictionary of its own language alone: a text left in
the other language, or a typo that makes a word of the other language ("an" for "na",
"we" for "ve"), is misspelt.
Markup (a tag cut off at the end too), entities, %1-style markers, endings in brackets ("certifikát(y)") and runs of
letters with digits or underscores or in camel case (numbers, hexadecimal values,
identifiers such as C_Initialize or anyPolicy) are left out first; so are the program's
own words from the first list (names, acronyms, file suffixes that both languages
share: nothing a dictionary could correct), and in a Czech text the English terms
that Czech texts name as they are ("Online Certificate Status Protocol"), from the
second list.
The language switch says its message in both languages: its texts (the source and
the translation of the messages in BOTH_LANGUAGES) are checked part by part, and a
part passes when one of the two dictionaries knows all of its words.
Prints every misspelt word with its text and fails when there is one."""
import html
import html.parser
import re
import subprocess
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

CZECH, ENGLISH, BOTH = "cs_CZ", "en_US", "cs_CZ+en_US"
# The source texts of the messages that hold both languages on purpose: the language
# switch's menu item and its message.
BOTH_LANGUAGES = {
    "English version",
    "<p align='center'>Změna jazykové verze se projeví po restartování aplikace.</p>"
    "<p align='center'>Language change will take place next time you start this application.",
}
# where one part of a text ends and the next may be in the other language
PART_BREAK = re.compile(r"<\s*/?\s*(?:p|br|li|ul|div|h\d)\b[^>]*>|[\n()]", re.I)
TAG = re.compile(r"<[^>]*(?:>|$)")  # a tag cut off at the end of a text too
MARKER = re.compile(r"%(?:n|L?\d+)")
ENDING = re.compile(r"(?<=\w)\(\w{1,3}\)")  # "certifikát(y)", "certificate(s)"
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


def listed(path):
    """A pattern that finds the words or terms of a list (one a line, "#" a comment)."""
    entries = [line.split("#")[0].strip() for line in path.read_text().splitlines()]
    entries = sorted((e for e in entries if e), key=len, reverse=True)
    return re.compile(r"(?<!\w)(?:" + "|".join(map(re.escape, entries)) + r")(?!\w)")


def words(part, *lists):
    text = MARKER.sub(" ", html.unescape(TAG.sub(" ", part)))
    text = ENDING.sub("", text)
    for pattern in lists:
        text = pattern.sub(" ", text)
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
    root, own, terms = Path(sys.argv[1]), listed(Path(sys.argv[2])), listed(Path(sys.argv[3]))

    app = catalogue(root / "manager/app/translations/cardadmin_en.ts")
    viewer = catalogue(root / "manager/certview/translations/viewer_cs.ts")
    pages = root / "manager/app/pages"
    texts = []  # (language, where, text)
    for source, translation in app:
        both = source in BOTH_LANGUAGES
        texts.append((BOTH if both else CZECH, "card manager source", source))
        if translation:
            texts.append((BOTH if both else ENGLISH, "card manager English", translation))
    texts += [(ENGLISH, "viewer source", s) for s, _ in viewer]
    texts += [(CZECH, "viewer Czech", t) for _, t in viewer if t]
    for lang, folder in ((CZECH, "cz"), (ENGLISH, "en")):
        for page in sorted((pages / folder).glob("*.html")):
            texts += [(lang, f"page {folder}/{page.name}", t) for t in page_texts(page)]

    # (language, where, part, its words)
    parts = []
    for lang, where, text in texts:
        lists = (own, terms) if lang == CZECH else (own,)
        parts += [(lang, where, part, words(part, *lists))
                  for part in (PART_BREAK.split(text) if lang == BOTH else [text])]
    every = [w for *_, found in parts for w in found]
    unknown_to = {CZECH: unknown(CZECH, every), ENGLISH: unknown(ENGLISH, every)}

    faults = []
    for lang, where, part, found in parts:
        if lang == BOTH:  # a part in either language
            wrong = min(([w for w in found if w in unknown_to[d]] for d in (CZECH, ENGLISH)),
                        key=len)
        else:
            wrong = [w for w in found if w in unknown_to[lang]]
        if wrong:
            faults.append(f"{where} ({lang}): {', '.join(dict.fromkeys(wrong))} in {part.strip()!r}")
    for fault in faults:
        print(fault)
    print(f"spelling: {len(parts)} parts of {len(texts)} texts checked, {len(faults)} with "
          "misspelt words")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
