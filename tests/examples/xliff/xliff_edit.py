#!/usr/bin/python3
"""What a translator or a translation tool does to an XLIFF file of kesto-xliff, for its tests.

    xliff_edit.py IN OUT OPERATION...

Operations run in order on the file's tree (Python's ElementTree, read and written whole; OUT "-"
writes nothing):
  units              says the [id, source text without codes] of each unit to translate
  copy               every target becomes a copy of its source, marked translated
  translate          the same with every ASCII letter as podebug's "unicode" rewrite writes it
  untranslated       three units keep their source: one without a target, one with an empty
                     target, one whose state says it is not translated
  remove-standalone  the first standalone code of a target is dropped
  double-standalone  ... stands twice
  unknown-id         the first code of a target gets an id that no source holds
  cross              the first two paired codes of one target are written as start and end codes
                     that cross
  move-paired        a paired code of a target moves from its word to the next word after it
  remove-paired      a paired code of a target goes, its text stays
  remove-unit        the first unit goes
  add-unit           a unit that no extraction wrote comes after the last one
  edit-source        the source of the first unit gets a word more
  split              the first unit is cut after the first space of its source's opening text
                     into two segments with that space in an ignorable between them (2.x), or
                     into two marked segments (1.2)
  split-code         the first unit with a paired code is cut into two segments inside that
                     code, which becomes a start code and an end code (2.x sc and ec, 1.2 bx and
                     ex in marked segments)
  term               the opening characters of a target are marked as a term (mrk)
  utf-16             the file is written in UTF-16 with a byte-order mark, as Windows tools may
  bad-char-ref       a target holds the reference "&#x1;", a character XML 1.0 cannot carry
  bad-char           a target holds the character U+0001 itself
  malformed          a target holds an element that is never closed
  entity-bomb        the file declares nested entities that expand a billion times, and uses one
  external-entity    the file declares an entity read from the file named by the environment's
                     XLIFF_EDIT_EXTERNAL, and uses it
The units changed are the first ones with an ASCII letter whose text no other unit has.
Prints one JSON object: what it changed (the unit's id, its source text without codes, the code).
"""
import copy
import json
import os
import sys
import xml.etree.ElementTree as ET

from translate.tools.podebug import podebug

NS12 = "urn:oasis:names:tc:xliff:document:1.2"
NS2 = "urn:oasis:names:tc:xliff:document:2.0"
XML_SPACE = "{http://www.w3.org/XML/1998/namespace}space"
TOKEN = "@@kesto-xliff-edit@@"

LETTERS = "".join(chr(c) for c in range(ord("A"), ord("z") + 1))
REWRITTEN = str(podebug(rewritestyle="unicode").rewrite_unicode(LETTERS))
assert len(REWRITTEN) == len(LETTERS)
REWRITE = str.maketrans(LETTERS, REWRITTEN)


class Xliff:
    def __init__(self, path):
        self.tree = ET.parse(path)
        self.root = self.tree.getroot()
        self.ns = self.root.tag[1:].split("}")[0]
        if self.ns not in (NS12, NS2):
            sys.exit("not an XLIFF file: " + self.root.tag)
        self.v2 = self.ns == NS2
        ET.register_namespace("", self.ns)
        self.paired = {self.q("pc"), self.q("mrk")} if self.v2 else {self.q("g"), self.q("mrk")}
        self.standalone = (
            {self.q(n) for n in ("ph", "sc", "ec", "cp")}
            if self.v2
            else {self.q(n) for n in ("x", "ph", "bx", "ex", "bpt", "ept", "it")}
        )
        self.doctype = ""
        self.encoding = "utf-8"

    def q(self, name):
        return "{%s}%s" % (self.ns, name)

    def units(self):
        return list(self.root.iter(self.q("unit" if self.v2 else "trans-unit")))

    def parent_of(self, element):
        for parent in self.root.iter():
            if element in list(parent):
                return parent
        raise LookupError("no parent")

    # The (holder, source, target) of each segment of a unit; holder carries the state (2.x: the
    # segment, XLIFF 1.2: the target).
    def segments(self, unit):
        if self.v2:
            return [(s, s.find(self.q("source")), s.find(self.q("target"))) for s in unit.iter(self.q("segment"))]
        return [(unit, unit.find(self.q("source")), unit.find(self.q("target")))]

    def plain(self, element):
        """The text of a source or target without its codes."""
        out = element.text or ""
        for child in element:
            if child.tag in self.paired:
                out += self.plain(child)
            out += child.tail or ""
        return out

    def unit_text(self, unit):
        return "".join(self.plain(source) for _, source, _ in self.segments(unit))

    def set_target(self, holder, source, target, rewrite):
        if target is None:
            # The holder is the source's parent: the segment (2.x) or the unit (XLIFF 1.2).
            target = ET.Element(self.q("target"))
            holder.insert(list(holder).index(source) + 1, target)
        target.clear()
        target.text = source.text
        for child in source:
            target.append(copy.deepcopy(child))
        if rewrite:
            self.rewrite(target, True)
        if self.v2:
            holder.set("state", "translated")
        else:
            target.set("state", "translated")
        return target

    def rewrite(self, element, inner):
        if inner and element.text:
            element.text = element.text.translate(REWRITE)
        for child in element:
            self.rewrite(child, child.tag in self.paired)
            if child.tail:
                child.tail = child.tail.translate(REWRITE)

    def telling(self):
        """The units with an ASCII letter whose text no other unit has: the tests tell their
        paragraphs apart by their letters."""
        texts = [self.unit_text(u) for u in self.units()]
        return [u for u, t in zip(self.units(), texts) if texts.count(t) == 1 and any(c.isascii() and c.isalpha() for c in t)]

    def targets(self):
        for unit in self.telling():
            for _, _, target in self.segments(unit):
                if target is not None:
                    yield unit, target

    def first_target_with(self, match):
        for unit, target in self.targets():
            for element in target.iter():
                if element is not target and match(element):
                    return unit, target, element
        raise LookupError("no target holds such a code")

    def code_id(self, element):
        return element.get("id") or element.get("startRef") or element.get("rid") or ""

    def report(self, unit, **more):
        return dict(unit=unit.get("id"), text=self.unit_text(unit), **more)

    def write(self, path, replace=None):
        text = ET.tostring(self.root, encoding="unicode")
        if replace is not None:
            text = text.replace(TOKEN, replace, 1)
        with open(path, "w", encoding=self.encoding, newline="") as out:
            out.write('<?xml version="1.0" encoding="%s"?>\n' % self.encoding.upper() + self.doctype + text)


def remove_keeping_tail(parent, element):
    """Takes an element out of its parent; its tail stays where it stood."""
    children = list(parent)
    at = children.index(element)
    tail = element.tail or ""
    if at == 0:
        parent.text = (parent.text or "") + tail
    else:
        children[at - 1].tail = (children[at - 1].tail or "") + tail
    parent.remove(element)


def next_word(text):
    return text.split()[0]


def split(x):
    """Cuts the first unit of one segment after the first space of its source's opening text."""
    for unit in x.telling():
        holder, source, target = x.segments(unit)[0]
        head = source.text or ""
        cut = head.find(" ") + 1
        if 1 < cut and (cut < len(head) or len(source)) and target is not None and len(x.segments(unit)) == 1:
            break
    else:
        raise LookupError("no unit opens with two words")
    if x.v2:
        # The space between the segments stands in an ignorable of its own, which has no target.
        first = ET.Element(x.q("segment"), {"id": "kesto-split-1", "state": holder.get("state", "translated")})
        for part in (source, target):
            piece = ET.SubElement(first, part.tag)
            piece.text = part.text[: cut - 1]
            part.text = part.text[cut:]
        between = ET.Element(x.q("ignorable"), {"id": "kesto-split-2"})
        ET.SubElement(between, x.q("source")).text = " "
        parent = x.parent_of(holder)
        parent.insert(list(parent).index(holder), between)
        parent.insert(list(parent).index(between), first)
    else:
        def marks(part):
            one = ET.Element(x.q("mrk"), {"mtype": "seg", "mid": "1"})
            two = ET.Element(x.q("mrk"), {"mtype": "seg", "mid": "2"})
            one.text, two.text = part.text[:cut], part.text[cut:]
            for child in list(part):
                two.append(child)
                part.remove(child)
            part.text = None
            return one, two
        seg_source = ET.Element(x.q("seg-source"))
        seg_source.extend(marks(copy.deepcopy(source)))
        unit.insert(list(unit).index(source) + 1, seg_source)
        target.extend(marks(target))
    return x.report(unit, cut=cut)


def split_code(x):
    """Cuts the first unit of one segment that holds a paired code of plain text into two
    segments inside that code, which becomes a start code in the first and an end code in the
    second, as a tool that segments across a code writes it: 2.x sc and ec in two segments, 1.2
    bx and ex (linked by rid) in two marked segments."""
    paired = x.q("pc") if x.v2 else x.q("g")

    def code_in(element):
        for child in element:
            if child.tag == paired and not len(child) and len(child.text or "") >= 2:
                return child
        return None

    for unit in x.telling():
        segments = x.segments(unit)
        if len(segments) == 1 and segments[0][2] is not None and code_in(segments[0][1]) is not None:
            break
    else:
        raise LookupError("no unit holds a paired code of plain text")
    holder, source, target = segments[0]

    def cut(part, one, two):
        """Moves the content of part into one and two, cut after the code's first character."""
        code = code_in(part)
        one.text = part.text
        children = list(part)
        for child in children[: children.index(code)]:
            one.append(child)
        if x.v2:
            start = ET.SubElement(one, x.q("sc"), {"id": code.get("id")})
            end = ET.Element(x.q("ec"), {"startRef": code.get("id")})
        else:
            start = ET.SubElement(one, x.q("bx"), {"id": code.get("id"), "rid": code.get("id")})
            end = ET.Element(x.q("ex"), {"id": "kesto-end-" + code.get("id"), "rid": code.get("id")})
        start.tail = code.text[:1]
        two.text = code.text[1:]
        two.append(end)
        end.tail = code.tail
        for child in children[children.index(code) + 1:]:
            two.append(child)
        for child in children:
            part.remove(child)
        part.text = None
        return code.get("id")

    if x.v2:
        first = ET.Element(x.q("segment"), {"id": "kesto-split-1", "state": holder.get("state", "translated")})
        for part in (source, target):
            rest = ET.Element(part.tag)
            code = cut(part, ET.SubElement(first, part.tag), rest)
            part.text = rest.text
            part.extend(list(rest))
        parent = x.parent_of(holder)
        parent.insert(list(parent).index(holder), first)
    else:
        marks = lambda: (ET.Element(x.q("mrk"), {"mtype": "seg", "mid": "1"}),
                         ET.Element(x.q("mrk"), {"mtype": "seg", "mid": "2"}))
        seg_source = ET.Element(x.q("seg-source"))
        one, two = marks()
        cut(copy.deepcopy(source), one, two)
        seg_source.extend((one, two))
        unit.insert(list(unit).index(source) + 1, seg_source)
        one, two = marks()
        code = cut(target, one, two)
        target.extend((one, two))
    return x.report(unit, code=code)


def annotate(x):
    """Marks the first three characters of a target as a term, as terminology tools do."""
    for unit, target in x.targets():
        if len(target.text or "") >= 3:
            break
    else:
        raise LookupError("no target opens with three characters")
    attributes = {"id": "kesto-term-1", "type": "term"} if x.v2 else {"mtype": "term"}
    term = ET.Element(x.q("mrk"), attributes)
    term.text, term.tail = target.text[:3], target.text[3:]
    target.text = None
    target.insert(0, term)
    return x.report(unit)


def token_in_first_target(x):
    unit, target = next(x.targets())
    target.text = (target.text or "") + TOKEN
    return unit


def main():
    x = Xliff(sys.argv[1])
    out = sys.argv[2]
    said = {}
    replace = None
    for op in sys.argv[3:]:
        if op in ("copy", "translate"):
            if x.v2 and x.root.get("trgLang") in (None, "und"):
                x.root.set("trgLang", "fr")
            for unit in x.units():
                for holder, source, target in x.segments(unit):
                    x.set_target(holder, source, target, op == "translate")
        elif op == "untranslated":
            units = x.telling()[:3]
            if len(units) < 3:
                raise LookupError("fewer than three units")
            holder, source, target = x.segments(units[0])[0]
            x.parent_of(target).remove(target)
            x.segments(units[1])[0][2].clear()
            holder, source, target = x.segments(units[2])[0]
            if x.v2:
                holder.set("state", "initial")
            else:
                target.set("state", "needs-translation")
            said = dict(units=[x.report(u) for u in units])
        elif op in ("remove-standalone", "double-standalone"):
            unit, target, code = x.first_target_with(lambda e: e.tag in x.standalone and e.tag != x.q("cp"))
            parent = x.parent_of(code)
            if op == "remove-standalone":
                remove_keeping_tail(parent, code)
            else:
                twin = copy.deepcopy(code)
                twin.tail = None
                parent.insert(list(parent).index(code) + 1, twin)
            said = x.report(unit, code=x.code_id(code))
        elif op == "unknown-id":
            unit, target, code = x.first_target_with(lambda e: e.tag in x.standalone | x.paired and e.get("id"))
            said = x.report(unit, code=x.code_id(code), was=code.get("id"))
            code.set("id", "kesto-unknown-9")
            said["code"] = "kesto-unknown-9"
        elif op == "cross":
            def two_paired(e):
                return len([c for c in e if c.tag in x.paired and len(c) == 0]) >= 2
            for unit, target in x.targets():
                if two_paired(target):
                    break
            else:
                raise LookupError("no target holds two paired codes side by side")
            first, second = [c for c in target if c.tag in x.paired and len(c) == 0][:2]
            said = x.report(unit, code=first.get("id"), second=second.get("id"))
            # <a>A</a>B<b>C</b> becomes [a A [b B a] C b]: each start where its code began, the
            # first end inside the second code.
            if x.v2:
                start = lambda c: ET.Element(x.q("sc"), {"id": c.get("id")})
                end = lambda c: ET.Element(x.q("ec"), {"startRef": c.get("id")})
            else:
                start = lambda c: ET.Element(x.q("bx"), {"id": c.get("id"), "rid": c.get("id")})
                end = lambda c: ET.Element(x.q("ex"), {"id": c.get("id"), "rid": c.get("id")})
            between = first.tail or ""
            s1, s2, e1, e2 = start(first), start(second), end(first), end(second)
            s1.tail = (first.text or "") + between
            s2.tail = second.text or ""
            e1.tail = ""
            e2.tail = second.tail
            # [a, text of a + between] [b, text of b] [/a] [/b, tail of b]
            at = list(target).index(first)
            target.remove(first)
            target.remove(second)
            for k, element in enumerate((s1, s2, e1, e2)):
                target.insert(at + k, element)
        elif op in ("move-paired", "remove-paired"):
            def movable(e):
                tail = e.tail or ""
                return (e.tag in x.paired and not len(e) and (e.text or "").strip() and tail[:1].isspace()
                        and tail.split())
            unit, target, code = x.first_target_with(movable)
            source_code = next(c for c in x.segments(unit)[0][1].iter() if c.get("id") == code.get("id"))
            said = x.report(unit, code=code.get("id"), word=code.text, source_word=source_code.text,
                            to=next_word(code.tail), source_to=next_word(source_code.tail),
                            gap=code.tail[: len(code.tail) - len(code.tail.lstrip())])
            parent = x.parent_of(code)
            if op == "remove-paired":
                code.tail = code.text + code.tail
                remove_keeping_tail(parent, code)
            else:
                # "<c>A</c> B rest" becomes "A <c>B</c> rest": the code stays in its place among
                # its siblings, the text around it moves.
                gap = code.tail[: len(code.tail) - len(code.tail.lstrip())]
                moved = code.text + gap
                children = list(parent)
                at = children.index(code)
                if at == 0:
                    parent.text = (parent.text or "") + moved
                else:
                    children[at - 1].tail = (children[at - 1].tail or "") + moved
                code.text = said["to"]
                code.tail = code.tail[len(gap) + len(said["to"]):]
        elif op == "remove-unit":
            unit = x.telling()[0]
            said = x.report(unit)
            x.parent_of(unit).remove(unit)
        elif op == "add-unit":
            last = x.units()[-1]
            added = copy.deepcopy(last)
            added.set("id", "kesto-added-1")
            parent = x.parent_of(last)
            parent.insert(list(parent).index(last) + 1, added)
            said = x.report(added)
        elif op == "edit-source":
            unit = x.telling()[0]
            said = x.report(unit)
            source = x.segments(unit)[0][1]
            source.text = (source.text or "") + "edited "
        elif op == "split":
            said = split(x)
        elif op == "utf-16":
            x.encoding = "utf-16"
        elif op == "split-code":
            said = split_code(x)
        elif op == "term":
            said = annotate(x)
        elif op == "bad-char-ref":
            said = x.report(token_in_first_target(x))
            replace = "&#x1;"
        elif op == "bad-char":
            said = x.report(token_in_first_target(x))
            replace = "\x01"
        elif op == "malformed":
            said = x.report(token_in_first_target(x))
            replace = "<kesto-unclosed>"
        elif op == "entity-bomb":
            said = x.report(token_in_first_target(x))
            entities = ['<!ENTITY lol0 "lol">'] + [
                '<!ENTITY lol%d "%s">' % (k, ("&lol%d;" % (k - 1)) * 10) for k in range(1, 10)
            ]
            x.doctype = "<!DOCTYPE xliff [\n%s\n]>\n" % "\n".join(entities)
            replace = "&lol9;"
        elif op == "external-entity":
            said = x.report(token_in_first_target(x))
            x.doctype = '<!DOCTYPE xliff [\n<!ENTITY outside SYSTEM "file://%s">\n]>\n' % os.environ["XLIFF_EDIT_EXTERNAL"]
            replace = "&outside;"
        elif op == "units":
            said = [[u.get("id"), x.unit_text(u)] for u in x.units() if u.get("translate") != "no"]
        else:
            sys.exit("unknown operation " + op)
    if out != "-":
        x.write(out, replace)
    if op in ("bad-char-ref", "bad-char", "malformed"):
        try:
            ET.parse(out)
        except ET.ParseError as error:
            said["line"] = error.position[0]
    print(json.dumps(said, ensure_ascii=False))


if __name__ == "__main__":
    main()
