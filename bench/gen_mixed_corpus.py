#!/usr/bin/env python3
"""Writes a corpus of mixed document formats with known word counts, for indexing_mixed_bench.

    python3 gen_mixed_corpus.py OUT [--per-format N] [--seed S]

OUT/corpus/ gets N documents of each kind (docx, odt, epub, rtf, pdf, eml, and Maildir
messages under OUT/corpus/Mail/Inbox) and OUT/manifest.json records, for every marker word,
how many documents hold it ("doc_freq", overall and per format) and how many times it occurs
("occurrences"). Every marker sits where only a real reader of the format sees it: inside a
deflated zip member, a Flate-compressed PDF stream, a base64 mail body, an RFC 2047 subject.
Standard library only; the same seed gives the same bytes.
"""
import argparse
import base64
import json
import os
import random
import zipfile
import zlib

# Marker words: none is a stem or an inflection of another, none appears in the filler.
MARKERS = ["zebrafish", "marmalade", "quixotic", "lighthouse", "saxophone", "tangerine",
           "xylograph"]
# One word per format, found in every document of that format and no other.
FORMAT_MARKERS = {"docx": "docxmarker", "odt": "odtmarker", "epub": "epubmarker",
                  "rtf": "rtfmarker", "pdf": "pdfmarker", "eml": "emlmarker",
                  "maildir": "maildirmarker"}
SUBJECT_MARKER = "subjectword"  # in RFC 2047 encoded subjects only
FILLER = ("time person year way day thing man world life hand part child eye woman place "
          "work week case point government company number group problem fact able bad best "
          "better black certain clear different early easy economic federal free full good "
          "great hard high human important international large late little local long low "
          "major military national new old only other political possible public real recent "
          "right small social special strong sure true white whole young").split()


def xml_escape(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def body_words(rng, fmt, counts):
    """A document's words: filler, its format's marker, and markers chosen at random."""
    words = [rng.choice(FILLER) for _ in range(rng.randint(150, 600))]
    chosen = [FORMAT_MARKERS[fmt]]
    for m in MARKERS:
        if rng.random() < 0.3:
            chosen += [m] * rng.randint(1, 3)
    for w in chosen:
        words.insert(rng.randrange(len(words) + 1), w)
    for w in set(chosen):
        counts["doc_freq"][w] = counts["doc_freq"].get(w, 0) + 1
        counts["by_format"].setdefault(fmt, {})
        counts["by_format"][fmt][w] = counts["by_format"][fmt].get(w, 0) + 1
    for w in chosen:
        counts["occurrences"][w] = counts["occurrences"].get(w, 0) + 1
    counts["words"] += len(words)
    return words


def paragraphs(words, size=40):
    return [" ".join(words[i:i + size]) for i in range(0, len(words), size)]


def write_zip(path, members):
    """members: (name, text, compress); the first is stored when it is 'mimetype'."""
    with zipfile.ZipFile(path, "w") as z:
        for name, text, compress in members:
            info = zipfile.ZipInfo(name, date_time=(2026, 12, 8, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED if compress else zipfile.ZIP_STORED
            z.writestr(info, text)


def write_docx(path, words, title):
    body = "".join(f"<w:p><w:r><w:t>{xml_escape(p)}</w:t></w:r></w:p>" for p in paragraphs(words))
    write_zip(path, [
        ("[Content_Types].xml",
         '<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/'
         'package/2006/content-types"><Default Extension="rels" ContentType="application/'
         'vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType='
         '"application/xml"/><Override PartName="/word/document.xml" ContentType="application/'
         'vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/><Override '
         'PartName="/docProps/core.xml" ContentType="application/vnd.openxmlformats-package.'
         'core-properties+xml"/></Types>', True),
        ("_rels/.rels",
         '<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.'
         'openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://'
         'schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target='
         '"word/document.xml"/><Relationship Id="rId2" Type="http://schemas.openxmlformats.org/'
         'package/2006/relationships/metadata/core-properties" Target="docProps/core.xml"/>'
         '</Relationships>', True),
        ("docProps/core.xml",
         '<?xml version="1.0" encoding="UTF-8"?><cp:coreProperties xmlns:cp="http://schemas.'
         'openxmlformats.org/package/2006/metadata/core-properties" xmlns:dc="http://purl.org/'
         f'dc/elements/1.1/"><dc:title>{xml_escape(title)}</dc:title><dc:creator>Bench</dc:creator>'
         '</cp:coreProperties>', True),
        ("word/document.xml",
         '<?xml version="1.0" encoding="UTF-8"?><w:document xmlns:w="http://schemas.'
         'openxmlformats.org/wordprocessingml/2006/main"><w:body>' + body +
         '</w:body></w:document>', True),
    ])


def write_odt(path, words, title):
    body = "".join(f"<text:p>{xml_escape(p)}</text:p>" for p in paragraphs(words))
    ns = ('xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
          'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
          'xmlns:dc="http://purl.org/dc/elements/1.1/" '
          'xmlns:meta="urn:oasis:names:tc:opendocument:xmlns:meta:1.0"')
    write_zip(path, [
        ("mimetype", "application/vnd.oasis.opendocument.text", False),
        ("META-INF/manifest.xml",
         '<?xml version="1.0" encoding="UTF-8"?><manifest:manifest xmlns:manifest="urn:oasis:'
         'names:tc:opendocument:xmlns:manifest:1.0"><manifest:file-entry manifest:full-path="/" '
         'manifest:media-type="application/vnd.oasis.opendocument.text"/><manifest:file-entry '
         'manifest:full-path="content.xml" manifest:media-type="text/xml"/><manifest:file-entry '
         'manifest:full-path="meta.xml" manifest:media-type="text/xml"/></manifest:manifest>',
         True),
        ("meta.xml", f'<?xml version="1.0" encoding="UTF-8"?><office:document-meta {ns} '
         f'office:version="1.2"><office:meta><dc:title>{xml_escape(title)}</dc:title>'
         '</office:meta></office:document-meta>', True),
        ("content.xml", f'<?xml version="1.0" encoding="UTF-8"?><office:document-content {ns} '
         f'office:version="1.2"><office:body><office:text>{body}</office:text></office:body>'
         '</office:document-content>', True),
    ])


def write_epub(path, words, title):
    chapter = ('<?xml version="1.0" encoding="UTF-8"?><html xmlns="http://www.w3.org/1999/xhtml">'
               f'<head><title>{xml_escape(title)}</title></head><body>' +
               "".join(f"<p>{xml_escape(p)}</p>" for p in paragraphs(words)) + "</body></html>")
    write_zip(path, [
        ("mimetype", "application/epub+zip", False),
        ("META-INF/container.xml",
         '<?xml version="1.0"?><container version="1.0" xmlns="urn:oasis:names:tc:opendocument:'
         'xmlns:container"><rootfiles><rootfile full-path="OEBPS/content.opf" media-type='
         '"application/oebps-package+xml"/></rootfiles></container>', True),
        ("OEBPS/content.opf",
         '<?xml version="1.0" encoding="UTF-8"?><package xmlns="http://www.idpf.org/2007/opf" '
         'version="3.0" unique-identifier="id"><metadata xmlns:dc="http://purl.org/dc/elements/'
         f'1.1/"><dc:identifier id="id">bench</dc:identifier><dc:title>{xml_escape(title)}'
         '</dc:title><dc:language>en</dc:language></metadata><manifest><item id="c1" href='
         '"chapter1.xhtml" media-type="application/xhtml+xml"/></manifest><spine><itemref '
         'idref="c1"/></spine></package>', True),
        ("OEBPS/chapter1.xhtml", chapter, True),
    ])


def write_rtf(path, words, title):
    # The format's marker is split by a bold group, so only a reader of RTF joins it again.
    marker = FORMAT_MARKERS["rtf"]
    body = "\\par\n".join(paragraphs(words))
    body = body.replace(marker, marker[:3] + "{\\b " + marker[3:] + "}", 1)
    with open(path, "w", encoding="ascii") as f:
        f.write("{\\rtf1\\ansi{\\fonttbl{\\f0 Times;}}{\\info{\\title " + title + "}}\n" +
                body + "\\par\n}\n")


def write_pdf(path, words, title):
    lines = paragraphs(words, 12)
    ops = ["BT", "/F1 10 Tf", "72 760 Td", "12 TL"]
    for line in lines:
        ops.append("(" + line.replace("\\", "\\\\").replace("(", "\\(").replace(")", "\\)") +
                   ") '")
    ops.append("ET")
    stream = zlib.compress("\n".join(ops).encode("ascii"))
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 6000] /Resources << /Font << /F1 4 0 R"
        b" >> >> /Contents 5 0 R >>",
        b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        b"<< /Length " + str(len(stream)).encode() + b" /Filter /FlateDecode >>\nstream\n" +
        stream + b"\nendstream",
        b"<< /Title (" + title.encode("ascii") + b") >>",
    ]
    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for i, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += f"{i} 0 obj\n".encode() + body + b"\nendobj\n"
    xref = len(out)
    out += f"xref\n0 {len(objects) + 1}\n0000000000 65535 f \n".encode()
    for off in offsets:
        out += f"{off:010d} 00000 n \n".encode()
    out += (f"trailer\n<< /Size {len(objects) + 1} /Root 1 0 R /Info {len(objects)} 0 R >>\n"
            f"startxref\n{xref}\n%%EOF\n").encode()
    with open(path, "wb") as f:
        f.write(out)


def mail_bytes(words, title, n):
    subject = base64.b64encode(f"{title} {SUBJECT_MARKER} – naïve".encode()).decode()
    body = base64.encodebytes("\n".join(paragraphs(words)).encode()).decode()
    return ("Return-Path: <bench@example.org>\r\n"
            "From: Bench Writer <bench@example.org>\r\n"
            "To: reader@example.org\r\n"
            f"Subject: =?UTF-8?B?{subject}?=\r\n"
            f"Date: Tue, 8 Dec 2026 05:{n % 60:02d}:00 +0000\r\n"
            f"Message-ID: <{n}@bench.example.org>\r\n"
            "MIME-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=utf-8\r\n"
            "Content-Transfer-Encoding: base64\r\n\r\n" + body.replace("\n", "\r\n")).encode()


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("out", help="folder to write corpus/ and manifest.json into")
    ap.add_argument("--per-format", type=int, default=200, help="documents of each kind")
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args()
    rng = random.Random(args.seed)
    corpus = os.path.join(args.out, "corpus")
    maildir = os.path.join(corpus, "Mail", "Inbox")
    for sub in ("tmp", "cur", "new"):
        os.makedirs(os.path.join(maildir, sub), exist_ok=True)
    counts = {"doc_freq": {}, "occurrences": {}, "by_format": {}, "words": 0}
    subjects = 0
    writers = {"docx": write_docx, "odt": write_odt, "epub": write_epub, "rtf": write_rtf,
               "pdf": write_pdf}
    for fmt in ["docx", "odt", "epub", "rtf", "pdf", "eml", "maildir"]:
        folder = os.path.join(corpus, fmt) if fmt != "maildir" else maildir
        os.makedirs(folder, exist_ok=True)
        for i in range(args.per_format):
            words = body_words(rng, fmt, counts)
            title = f"Document {fmt} {i}"
            if fmt in writers:
                writers[fmt](os.path.join(folder, f"doc{i:05d}.{fmt}"), words, title)
                continue
            data = mail_bytes(words, title, i)
            subjects += 1
            name = (f"doc{i:05d}.eml" if fmt == "eml" else
                    os.path.join("cur" if i % 2 else "new", f"17651709{i:05d}.M{i}P1.bench:2,S"))
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
    counts["doc_freq"][SUBJECT_MARKER] = subjects
    manifest = {"documents": args.per_format * 7, "per_format": args.per_format,
                "seed": args.seed, "words": counts["words"], "doc_freq": counts["doc_freq"],
                "occurrences": counts["occurrences"], "by_format": counts["by_format"]}
    with open(os.path.join(args.out, "manifest.json"), "w") as f:
        json.dump(manifest, f, indent=1, sort_keys=True)
    print(f"{manifest['documents']} documents, {counts['words']} words in {corpus}")


if __name__ == "__main__":
    main()
