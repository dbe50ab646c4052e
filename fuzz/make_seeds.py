#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/. Run from anywhere."""
import hashlib
import json
import os
import struct
import zipfile

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def put(target, name, data):
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


def dumps(value):
    return json.dumps(value, sort_keys=True, separators=(",", ":"), ensure_ascii=False).encode()


IMAGE = b"\x89PNG\r\n\x1a\n" + b"seed" * 40
IMAGE_ID = hashlib.sha256(IMAGE).hexdigest() + ".png"
DECK = "0F2B6C1E-3A4D-4E5F-8A9B-0C1D2E3F4A5B"
T = 1700000000000


def memory(reviewed):
    state = {"due": T, "stability": 0, "difficulty": 0, "elapsedDays": 0, "scheduledDays": 0,
             "learningSteps": 0, "reps": 0, "lapses": 0, "stage": 0}
    if reviewed:
        state.update(stability=3.2, difficulty=5.5, scheduledDays=3, reps=1, stage=2, lastReview=T - 1000)
    return state


def run(text, **extra):
    value = {"text": text, "bold": False, "italic": False, "underline": False, "style": "body",
             "alignment": "leading"}
    value.update(extra)
    return value


document = {"runs": [run("Capitale: {{c1::Roma}} "), run("\ufffc", imageID=IMAGE_ID),
                     run(" formula ", bold=True), run("\ufffc", latex="x^2")]}
front = "".join(r["text"] for r in document["runs"])
library = {
    "libraryID": "11111111-2222-4333-8444-555555555555",
    "decks": [{"id": DECK, "name": "Mazzo", "subtitle": "", "symbol": "book", "colorHex": "4F5FE7",
               "createdAt": T, "updatedAt": T}],
    "notes": [
        {"id": "0F2B6C1E-3A4D-4E5F-8A9B-000000000001", "deckID": DECK, "kind": "reversed", "front": "casa",
         "back": "house", "tags": ["a", "b"], "imageID": IMAGE_ID, "createdAt": T, "updatedAt": T},
        {"id": "0F2B6C1E-3A4D-4E5F-8A9B-000000000002", "deckID": DECK, "kind": "cloze", "front": front,
         "back": "", "tags": [], "frontDocument": document, "createdAt": T, "updatedAt": T},
    ],
    "cards": [
        {"id": "0F2B6C1E-3A4D-4E5F-8A9B-00000000000A", "noteID": "0F2B6C1E-3A4D-4E5F-8A9B-000000000001",
         "deckID": DECK, "ordinal": 0, "memory": memory(True), "isSuspended": False},
        {"id": "0F2B6C1E-3A4D-4E5F-8A9B-00000000000B", "noteID": "0F2B6C1E-3A4D-4E5F-8A9B-000000000001",
         "deckID": DECK, "ordinal": 1, "memory": memory(False), "isSuspended": True},
        {"id": "0F2B6C1E-3A4D-4E5F-8A9B-00000000000C", "noteID": "0F2B6C1E-3A4D-4E5F-8A9B-000000000002",
         "deckID": DECK, "ordinal": 1, "memory": memory(False), "isSuspended": False},
    ],
    "reviews": [{"id": "0F2B6C1E-3A4D-4E5F-8A9B-0000000000F1", "cardID": "0F2B6C1E-3A4D-4E5F-8A9B-00000000000A",
                 "reviewedAt": T - 1000, "rating": 3, "before": memory(False), "after": memory(True),
                 "algorithm": "fsrs-6-default-v1", "retention": 0.9, "undoneAt": T}],
    "preferences": {"dailyNewLimit": 10, "desiredRetention": 0.9},
}
library_bytes = dumps(library)


def package(kind, with_image=True, version=2):
    manifest = {"format": "quenda", "version": version, "kind": kind, "createdAt": T, "deckCount": 1,
                "noteCount": 2, "cardCount": 3, "reviewCount": 1, "mediaCount": 1,
                "librarySHA256": hashlib.sha256(library_bytes).hexdigest()}
    import io
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as z:
        def add(name, data, method):
            info = zipfile.ZipInfo(name, (2024, 1, 1, 0, 0, 0))
            info.external_attr = 0o100644 << 16
            z.writestr(info, data, compress_type=method)
        add("manifest.json", dumps(manifest), zipfile.ZIP_DEFLATED)
        add("library.json", library_bytes, zipfile.ZIP_DEFLATED)
        if with_image:
            add("media/" + IMAGE_ID, IMAGE, zipfile.ZIP_STORED)
    return out.getvalue()


put("fuzz_package_reader", "backup.quenda", package("backup"))
put("fuzz_package_reader", "deck.quenda", package("deck"))
put("fuzz_package_reader", "missing-image.quenda", package("backup", with_image=False))

put("fuzz_package_library", "backup-v2.json", b"\x01" + library_bytes)
put("fuzz_package_library", "deck-v2.json", b"\x03" + library_bytes)
plain = dict(library, notes=library["notes"][:1], cards=library["cards"][:2])
put("fuzz_package_library", "plain-v1.json", b"\x00" + dumps(plain))

put("fuzz_csv_reader", "header-semicolon.csv", "Domanda;Risposta;Etichette;Tipo\ncasa;house;a|b;inversa\n")
put("fuzz_csv_reader", "quoted.csv", 'front,back,tags,type,id\r\n"Il ""Duomo""","Milano,\nItalia","arte;città","basic",'
    '"0F2B6C1E-3A4D-4E5F-8A9B-0C1D2E3F4A5E"\r\n"{{c1::Roma}} e {{c2::Lima}}","","","cloze",""\r\n')
put("fuzz_csv_reader", "positional.tsv", "uno\tone\n\ndue\ttwo\tx\treversed\t\n")

records = {
    0: library["decks"][0], 1: library["notes"][1], 2: memory(True), 3: library["cards"][0],
    4: library["reviews"][0], 5: library["preferences"], 6: library, 7: document,
}
for selector, value in records.items():
    put("fuzz_record_json", f"record{selector}-package.json", bytes([0x80 | selector]) + dumps(value))
    put("fuzz_record_json", f"record{selector}-database.json", bytes([selector]) + dumps(value))


def rich(runs):
    out = b""
    for flags, text, optional, extras in runs:
        encoded = text.encode()
        out += bytes([flags]) + struct.pack("<H", len(encoded)) + encoded + bytes([optional])
        for extra in extras:
            e = extra.encode()
            out += struct.pack("<H", len(e)) + e
    return out


put("fuzz_rich_text_validate", "mixed", rich([(0x09, "Titolo\n", 0, []), (0x01, "link", 1, ["https://example.com"]),
                                              (0, "\ufffc", 2, [IMAGE_ID]), (0, "\ufffc", 4, ["\\frac{1}{2}"])]))
put("fuzz_rich_text_validate", "plain", rich([(0, "testo semplice", 0, [])]))
