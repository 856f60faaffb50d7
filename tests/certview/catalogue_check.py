#!/usr/bin/python3
"""Every text a program passes through tr() has a finished translation in its
catalogue, and the catalogue holds no text the code no longer uses.
   catalogue_check.py <lupdate> <source root> <catalogue.ts> [<directory>]
The directory under the source root holds the program's code (default: the
viewer's, manager/certview). Texts that the viewer deliberately shows with their
source text in Czech too are listed below."""
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

# no entry in the catalogue, or an empty one: shown in English in Czech as well
UNTRANSLATED = {"Permitted subtrees", "Timestamping"}


def messages(path):
    found = {}
    for context in ET.parse(path).getroot().iter("context"):
        name = context.find("name").text
        for message in context.iter("message"):
            translation = message.find("translation")
            finished = translation.get("type") not in ("unfinished", "vanished", "obsolete")
            found[(name, message.find("source").text)] = (translation.text or "", finished)
    return found


def main():
    lupdate, root, catalogue = sys.argv[1:4]
    code = sys.argv[4] if len(sys.argv) > 4 else "manager/certview"
    with tempfile.TemporaryDirectory() as tmp:
        scanned = tmp + "/scanned.ts"
        subprocess.run([lupdate, "-silent", "-I", root + "/manager", root + "/" + code,
                        "-ts", scanned], check=True)
        used = set(messages(scanned))
    shipped = messages(catalogue)
    faults = []
    for context, source in sorted(used - set(shipped)):
        if source not in UNTRANSLATED:
            faults.append(f"no translation: {context}: {source!r}")
    for context, source in sorted(set(shipped) - used):
        faults.append(f"not used by the code: {context}: {source!r}")
    for (context, source), (text, finished) in sorted(shipped.items()):
        if source in UNTRANSLATED:
            continue
        if not text:
            faults.append(f"empty translation: {context}: {source!r}")
        elif not finished:
            faults.append(f"unfinished translation: {context}: {source!r}")
    for fault in faults:
        print(fault)
    print(f"{len(used)} texts used, {len(shipped)} in the catalogue, {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
