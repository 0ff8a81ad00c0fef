"""Checks the HTML manual as a browser would follow it: every page parses, every local link
(href, src, and the URL of a meta refresh) leads to an existing file, and a link with a
fragment to an element with that id. Usage: check_manual.py MANUAL_DIR"""
import html.parser
import pathlib
import sys
import urllib.parse


class Page(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.ids, self.links = set(), []

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if "id" in attrs:
            self.ids.add(attrs["id"])
        for name in ("href", "src"):
            if attrs.get(name) is not None:
                self.links.append(attrs[name])
        if tag == "meta" and (attrs.get("http-equiv") or "").lower() == "refresh":
            _, _, target = (attrs.get("content") or "").partition("url=")
            self.links.append(target.strip())


def parse(path):
    page = Page()
    page.feed(path.read_text(encoding="utf-8"))
    page.close()
    return page


def main(root):
    root = pathlib.Path(root).resolve()
    pages = sorted(root.rglob("*.html"))
    parsed = {path: parse(path) for path in pages}
    failures = []
    for path, page in parsed.items():
        for link in page.links:
            parts = urllib.parse.urlsplit(link)
            if parts.scheme or parts.netloc:
                continue  # the outside world is not the manual's to check
            target = (path.parent / urllib.parse.unquote(parts.path)).resolve() if parts.path else path
            where = f"{path.relative_to(root)}: {link!r}"
            if not target.is_file():
                failures.append(f"{where}: no such file")
            elif parts.fragment and parts.fragment not in parsed.get(target, parse(target)).ids:
                failures.append(f"{where}: no id {parts.fragment!r} there")
    for failure in failures:
        print("FAIL:", failure, file=sys.stderr)
    if not pages:
        failures.append("no pages")
        print("FAIL: no pages under", root, file=sys.stderr)
    print(f"{len(pages)} pages, {sum(len(p.links) for p in parsed.values())} links")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
