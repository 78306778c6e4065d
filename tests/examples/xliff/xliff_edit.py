#!/usr/bin/python3
"""What a translator or a translation tool does to an XLIFF file of kesto-xliff, for its tests.

    xliff_edit.py IN OUT OPERATION...

Operations run in order on the file's tree (ElementTree; OUT "-" writes nothing): "units" says the
[id, source text without codes] of each unit; "copy" and "translate" fill every target with its
source (translated: as podebug's "unicode" rewrite writes it); the others make one mistake (main()
names them) on the first unit with an ASCII letter whose text no other unit has. Prints a JSON
object: the unit changed, its source text without codes, and the code or line concerned.
"""
import copy
import json
import os
import sys
import xml.etree.ElementTree as ET

from translate.tools.podebug import podebug

NS2 = "urn:oasis:names:tc:xliff:document:2.0"
TOKEN = "@@kesto-xliff-edit@@"
LETTERS = "".join(chr(c) for c in range(ord("A"), ord("z") + 1))
REWRITE = str.maketrans(LETTERS, str(podebug(rewritestyle="unicode").rewrite_unicode(LETTERS)))


class Xliff:
    def __init__(self, path):
        self.root = ET.parse(path).getroot()
        self.ns = self.root.tag[1:].split("}")[0]
        self.v2 = self.ns == NS2
        ET.register_namespace("", self.ns)
        self.paired = {self.q("pc" if self.v2 else "g"), self.q("mrk")}
        self.standalone = {self.q(n) for n in (("ph", "sc", "ec") if self.v2 else ("x", "ph", "bx", "ex"))}
        self.doctype, self.encoding = "", "utf-8"

    def q(self, name):
        return "{%s}%s" % (self.ns, name)

    def units(self):
        return list(self.root.iter(self.q("unit" if self.v2 else "trans-unit")))

    def parent_of(self, element):
        return next(p for p in self.root.iter() if element in list(p))

    # The (holder of the state, source, target) of each segment of a unit.
    def segments(self, unit):
        if self.v2:
            return [(s, s.find(self.q("source")), s.find(self.q("target"))) for s in unit.iter(self.q("segment"))]
        return [(unit, unit.find(self.q("source")), unit.find(self.q("target")))]

    def plain(self, element):
        return (element.text or "") + "".join((self.plain(c) if c.tag in self.paired else "") + (c.tail or "")
                                              for c in element)

    def unit_text(self, unit):
        return "".join(self.plain(source) for _, source, _ in self.segments(unit))

    def fill(self, holder, source, target, rewrite):
        if target is None:
            target = ET.Element(self.q("target"))
            holder.insert(list(holder).index(source) + 1, target)
        target.clear()
        target.text = source.text
        target.extend(copy.deepcopy(c) for c in source)
        if rewrite:
            for e in target.iter():
                if e is target or e.tag in self.paired:
                    e.text = e.text and e.text.translate(REWRITE)
                if e is not target:
                    e.tail = e.tail and e.tail.translate(REWRITE)
        (holder if self.v2 else target).set("state", "translated")

    # The units whose paragraphs the tests tell apart by their letters.
    def telling(self):
        texts = [self.unit_text(u) for u in self.units()]
        return [u for u, t in zip(self.units(), texts)
                if texts.count(t) == 1 and any(c.isascii() and c.isalpha() for c in t)]

    def first_code(self, match):
        for unit in self.telling():
            for _, _, target in self.segments(unit):
                for e in target.iter() if target is not None else ():
                    if e is not target and match(e):
                        return unit, target, e
        raise LookupError("no target holds such a code")

    def report(self, unit, **more):
        return dict(unit=unit.get("id"), text=self.unit_text(unit), **more)

    def token(self):
        unit = self.telling()[0]
        target = self.segments(unit)[0][2]
        target.text = (target.text or "") + TOKEN
        return self.report(unit)

    def write(self, path, replace):
        text = ET.tostring(self.root, encoding="unicode").replace(TOKEN, replace or "", 1)
        with open(path, "w", encoding=self.encoding, newline="") as out:
            out.write('<?xml version="1.0" encoding="%s"?>\n' % self.encoding.upper() + self.doctype + text)


def put_before(parent, element, text):
    at = list(parent).index(element)
    if at == 0:
        parent.text = (parent.text or "") + text
    else:
        parent[at - 1].tail = (parent[at - 1].tail or "") + text


def cross(x):
    """<a>A</a>B<b>C</b> becomes [a A B [b C a] b]: the first end inside the second code."""
    unit, target, (first, second) = next(
        (u, t, c[:2]) for u in x.telling() for _, _, t in x.segments(u) if t is not None
        for c in [[e for e in t if e.tag in x.paired and not len(e)]] if len(c) >= 2)
    if x.v2:
        start, end = (lambda c: ET.Element(x.q("sc"), id=c.get("id"))), (lambda c: ET.Element(x.q("ec"), startRef=c.get("id")))
    else:
        start, end = [lambda c, t=t: ET.Element(x.q(t), id=c.get("id"), rid=c.get("id")) for t in ("bx", "ex")]
    s1, s2, e1, e2 = start(first), start(second), end(first), end(second)
    s1.tail, s2.tail, e2.tail = (first.text or "") + (first.tail or ""), second.text, second.tail
    at = list(target).index(first)
    target.remove(first)
    target.remove(second)
    for k, element in enumerate((s1, s2, e1, e2)):
        target.insert(at + k, element)
    return x.report(unit, code=first.get("id"))


def move_paired(x, remove):
    """"<c>A</c> B rest" becomes "A <c>B</c> rest", or "A B rest" when the code goes."""
    unit, target, code = x.first_code(lambda e: e.tag in x.paired and not len(e) and (e.text or "").strip()
                                      and (e.tail or "")[:1].isspace() and e.tail.split())
    source = next(c for c in x.segments(unit)[0][1].iter() if c.get("id") == code.get("id"))
    gap = code.tail[: len(code.tail) - len(code.tail.lstrip())]
    to = code.tail.split()[0]
    said = x.report(unit, code=code.get("id"), word=code.text, source_word=source.text, gap=gap, to=to,
                    source_to=source.tail.split()[0])
    parent = x.parent_of(code)
    put_before(parent, code, code.text + (code.tail if remove else gap))
    if remove:
        parent.remove(code)
    else:
        code.text, code.tail = to, code.tail[len(gap) + len(to):]
    return said


def split(x):
    """A unit of one segment cut after the first space of its source into two segments, the space
    in an ignorable between them."""
    unit = next(u for u in x.telling() if 1 < (x.segments(u)[0][1].text or "").find(" ") + 1 < len(x.segments(u)[0][1].text))
    holder, source, target = x.segments(unit)[0]
    cut = source.text.find(" ")
    first = ET.Element(x.q("segment"), state="translated")
    for part in (source, target):
        ET.SubElement(first, part.tag).text = part.text[:cut]
        part.text = part.text[cut + 1:]
    between = ET.Element(x.q("ignorable"))
    ET.SubElement(between, x.q("source")).text = " "
    parent = x.parent_of(holder)
    parent.insert(list(parent).index(holder), between)
    parent.insert(list(parent).index(between), first)
    return x.report(unit)


def main():
    x = Xliff(sys.argv[1])
    said, replace = {}, None
    for op in sys.argv[3:]:
        if op in ("copy", "translate"):
            if x.v2 and x.root.get("trgLang") in (None, "und"):
                x.root.set("trgLang", "fr")
            for unit in x.units():
                for holder, source, target in x.segments(unit):
                    x.fill(holder, source, target, op == "translate")
        elif op == "units":
            said = [[u.get("id"), x.unit_text(u)] for u in x.units() if u.get("translate") != "no"]
        elif op == "untranslated":  # no target; an empty one; one in a state of no translation
            units = x.telling()[:3]
            (holder, _, target), (_, _, empty), (state, _, third) = [x.segments(u)[0] for u in units]
            holder.remove(target)
            empty.clear()
            (state.set("state", "initial") if x.v2 else third.set("state", "needs-translation"))
            said = dict(units=[x.report(u) for u in units])
        elif op in ("remove-standalone", "double-standalone"):
            unit, target, code = x.first_code(lambda e: e.tag in x.standalone)
            parent = x.parent_of(code)
            if op == "remove-standalone":
                put_before(parent, code, code.tail or "")
                parent.remove(code)
            else:
                parent.insert(list(parent).index(code) + 1, ET.Element(code.tag, code.attrib))
            said = x.report(unit, code=code.get("id"))
        elif op == "unknown-id":
            unit, target, code = x.first_code(lambda e: e.tag in x.standalone | x.paired and e.get("id"))
            code.set("id", "kesto-unknown-9")
            said = x.report(unit, code="kesto-unknown-9")
        elif op == "cross":
            said = cross(x)
        elif op in ("move-paired", "remove-paired"):
            said = move_paired(x, op == "remove-paired")
        elif op == "remove-unit":
            unit = x.telling()[0]
            said = x.report(unit)
            x.parent_of(unit).remove(unit)
        elif op == "add-unit":
            last = x.units()[-1]
            added = copy.deepcopy(last)
            added.set("id", "kesto-added-1")
            x.parent_of(last).append(added)
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
        elif op in ("bad-char-ref", "bad-char", "malformed"):
            said, replace = x.token(), {"bad-char-ref": "&#x1;", "bad-char": "\x01", "malformed": "<kesto-unclosed>"}[op]
        elif op == "entity-bomb":
            said, replace = x.token(), "&lol9;"
            x.doctype = "<!DOCTYPE xliff [\n<!ENTITY lol0 \"lol\">\n%s]>\n" % "".join(
                '<!ENTITY lol%d "%s">\n' % (k, "&lol%d;" % (k - 1) * 10) for k in range(1, 10))
        elif op == "external-entity":
            said, replace = x.token(), "&outside;"
            x.doctype = '<!DOCTYPE xliff [<!ENTITY outside SYSTEM "file://%s">]>\n' % os.environ["XLIFF_EDIT_EXTERNAL"]
        else:
            sys.exit("unknown operation " + op)
    if sys.argv[2] != "-":
        x.write(sys.argv[2], replace)
    if replace in ("&#x1;", "\x01", "<kesto-unclosed>"):
        try:
            ET.parse(sys.argv[2])
        except ET.ParseError as error:
            said["line"] = error.position[0]
    print(json.dumps(said, ensure_ascii=False))


if __name__ == "__main__":
    main()
