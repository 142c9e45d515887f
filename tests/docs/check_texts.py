#!/usr/bin/env python3
"""Every text the guide quotes as the program's own is in the program.

    check_texts.py GUIDE.md SOURCE_DIR MIN_QUOTES

The guide quotes the program's texts in «guillemets», letter for letter.
Parts in *italics* inside the guillemets change from case to case (a device
number, a port name) and are not compared.  Spaces and line breaks are
compared as one space wherever they stand and however many there are, on
both sides, and the blanks next to an italic part are not compared: a
message the program shows on three lines is quoted whole on one line of a
table, and the blanks a box's text carries at its ends or twice over do not
have to be typed.  Fenced code blocks are not read.  Each
remaining piece must occur in one text of the program, not inside a longer
word, or be texts the program puts one after another where a word ends (a
message built of pieces, quoted whole): a C++ string literal (adjacent
literals joined, escapes resolved) or a string of a .ui form, in the source
tree outside the tests, the documentation and the benchmarks.
"""
import pathlib
import re
import sys
import xml.etree.ElementTree as ET

SKIP_DIRS = {"tests", "docs", "bench", "fuzz", ".git", ".ci"}
ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "\\": "\\", '"': '"', "'": "'", "0": "\0", "?": "?"}


def number_before(text, i):
    """The token that ends at text[i] is a number: it starts with a digit."""
    j = i
    while j > 0 and (text[j - 1].isalnum() or text[j - 1] in "_'"):
        j -= 1
    return j < i and text[j].isdigit()


def cpp_literals(text):
    """The string literals of a C++ source, adjacent ones joined."""
    out, i, n = [], 0, len(text)
    current = None  # the literal being joined, while only blanks follow it

    def flush():
        nonlocal current
        if current is not None:
            out.append(current)
            current = None

    while i < n:
        c = text[i]
        if text.startswith("//", i):
            i = text.find("\n", i)
            i = n if i < 0 else i
        elif text.startswith("/*", i):
            i = text.find("*/", i + 2)
            i = n if i < 0 else i + 2
        elif c == "'" and number_before(text, i):
            i += 1  # a digit separator (60'000), not a character literal
        elif c == "'":
            j = i + 1
            while j < n and text[j] != "'":
                j += 2 if text[j] == "\\" else 1
            flush()
            i = j + 1
        elif c == '"':
            raw = re.match(r'R"([^(\s]*)\(', text[i - 1:i + 20]) if i > 0 and text[i - 1] == "R" else None
            if raw:
                end = text.find(")" + raw.group(1) + '"', i)
                value, i = text[i + len(raw.group(1)) + 2:end], end + len(raw.group(1)) + 2
            else:
                j, value = i + 1, []
                while j < n and text[j] != '"':
                    if text[j] == "\\":
                        value.append(ESCAPES.get(text[j + 1], text[j + 1]))
                        j += 2
                    else:
                        value.append(text[j])
                        j += 1
                value, i = "".join(value), j + 1
            current = (current or "") + value
        elif c.isspace():
            i += 1
        else:
            flush()
            i += 1
    flush()
    return out


def program_texts(root):
    texts = []
    for path in sorted(root.rglob("*")):
        rel = path.relative_to(root).parts
        if not path.is_file() or rel[0] in SKIP_DIRS or rel[0].startswith("build"):
            continue
        if path.suffix in (".cpp", ".h"):
            texts += cpp_literals(path.read_text(encoding="utf-8"))
        elif path.suffix == ".ui":
            texts += [e.text for e in ET.parse(path).iter("string") if e.text]
    return texts


def guide_quotes(markdown):
    """(line number, pieces) of every «…» of the guide outside code blocks."""
    prose, fenced = [], False
    for line in markdown.split("\n"):
        if line.lstrip().startswith("```"):
            fenced = not fenced
            prose.append("")
            continue
        prose.append("" if fenced else re.sub(r"^\s*>\s?", "", line))
    text = ""
    for line in prose:
        hard = line.endswith("\\")
        text += (line[:-1] + "\n") if hard else (line + "\x00")  # \x00: a soft break
    quotes = []
    for start, end in quote_spans(text):
        body = re.sub(r"\x00[ \t]*", " ", text[start + 1:end])
        pieces = [p for p in re.split(r"\*[^*]+\*", body) if p.strip()]
        quotes.append((text.count("\n", 0, start) + text.count("\x00", 0, start) + 1, text[start:end + 1], pieces))
    return quotes


def quote_spans(text):
    """(start, end) of every outermost «…»; a message that quotes a name in
    guillemets of its own («Поле «port» в файле…») is one quote."""
    spans, depth, start = [], 0, 0
    for i, c in enumerate(text):
        if c == "«":
            if depth == 0:
                start = i
            depth += 1
        elif c == "»" and depth > 0:
            depth -= 1
            if depth == 0:
                spans.append((start, i))
    return spans


def blanks_as_one(text):
    """Every run of spaces, tabs and line breaks as one space."""
    return re.sub(r"\s+", " ", text)


def found(piece, texts):
    """piece occurs in a text, and a piece that starts or ends with a letter
    or digit starts or ends a word there («Да» is not found in "Данные").
    The texts have their blanks as one already."""
    piece = blanks_as_one(piece).strip()
    pattern = re.compile((r"(?<!\w)" if piece[0].isalnum() else "") + re.escape(piece) +
                         (r"(?!\w)" if piece[-1].isalnum() else ""))
    return any(pattern.search(t) for t in texts) or joined(piece, texts)


JOINS = re.compile(r"(?<=[\s.,:;!?()«»\"—-])|(?=[\s.,:;!?()«»\"—-])")


def joined(piece, texts, inner=False, depth=0):
    """piece is texts the program puts one after another, as a message built
    of pieces is: the end of one text, whole texts, the start of another,
    joined where a word ends ("…прибора." + "\nЗагрузка отменена")."""
    if depth > 3:
        return False
    cuts = sorted({m.start() for m in JOINS.finditer(piece)} - {0, len(piece)})
    for cut in cuts:
        head, rest = piece[:cut].strip(), piece[cut:].strip()
        if not head or not rest:
            continue
        if not (head in texts if inner else any(ends_with(t, head) for t in texts)):
            continue
        if any(starts_with(t, rest) for t in texts) or joined(rest, texts, True, depth + 1):
            return True
    return False


def ends_with(text, part):
    """text ends with part, and a part that starts with a letter or digit
    starts a word there."""
    text = text.rstrip()
    return text.endswith(part) and not (
        part[0].isalnum() and len(text) > len(part) and text[-len(part) - 1].isalnum())


def starts_with(text, part):
    """text starts with part, and a part that ends with a letter or digit
    ends a word there."""
    text = text.lstrip()
    return text.startswith(part) and not (
        part[-1].isalnum() and len(text) > len(part) and text[len(part)].isalnum())


def main():
    guide, root, minimum = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2]), int(sys.argv[3])
    texts = [blanks_as_one(t) for t in program_texts(root)]
    texts = texts + sorted({t.strip() for t in texts} - set(texts))  # whole texts for joined()
    quotes = guide_quotes(guide.read_text(encoding="utf-8"))
    missing = [(line, q, p) for line, q, pieces in quotes for p in pieces if not found(p, texts)]
    for line, q, p in missing:
        print(f"{guide.name}:{line}: {q.replace(chr(0), ' ')}: not in the program: {p!r}")
    print(f"{len(quotes)} quoted texts, {len(texts)} program texts, {len(missing)} not found")
    if len(quotes) < minimum:
        print(f"fewer than {minimum} quoted texts: is the quoting convention still «…»?")
        return 1
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
