#!/usr/bin/env python3
"""Generates the gallery site that the benchmark serves, and a manifest of what a crawl must fetch.

The site is deterministic for a given size. Its shape keeps the three tools' jobs identical:
every JPEG that a page links to with href is also embedded (src) in some page of the crawl, so
following the embedded images of the reachable pages and following every link fetch the same set.
Every image has a file name that is unique across the site, because Pixhound stores a run's images
side by side under their last path segment.
"""

import argparse
import json
import os
import posixpath
import random
import re
import shutil
import struct
import sys
from dataclasses import dataclass, field

GENERATOR_VERSION = 3

# sections, albums per section, pages of previews per album, previews per page
GALLERIES = {
    "small": (2, 4, 3, 10),
    "large": (10, 8, 3, 10),
}
# pages in the chain, bytes of markup per page: a deep crawl, for the crawl's memory
CHAINS = {
    "chain": (5000, 30_000),
}
SIZES = {**GALLERIES, **CHAINS}
EXTRAS_PER_ALBUM = 4
START_FOLDER = "gallery"

JAPANESE_FILLER = (
    "春の光が差し込む湖のほとりで撮影した一枚です。朝霧が晴れるまでの短い時間、"
    "水面に映る山並みと桜並木がひとつの絵のように重なりました。"
    "撮影地までは駅から歩いて四十分ほどですが、途中の坂道からの眺めも見事です。"
)


@dataclass
class Image:
    path: str  # below the site root, "/"-separated, no leading "/"
    size: int


@dataclass
class Page:
    path: str
    title: str
    embeds: list = field(default_factory=list)  # site paths of embedded images, in order
    links: list = field(default_factory=list)  # href values as written in the page, in order
    body: list = field(default_factory=list)  # extra HTML fragments
    padding: int = 0  # when set, prose is added until the markup is about this many bytes


class Site:
    def __init__(self, size_name, seed):
        self.size_name = size_name
        self.rng = random.Random(seed)
        self.images = {}  # path -> Image
        self.pages = []  # the pages a crawl from the start page must read
        self.outside_pages = []  # pages that no crawl may read

    # Sizes: previews 50-110 KB, full-size pictures mostly 110-450 KB with about one in fifty of
    # several megabytes, extras 60-400 KB.
    def image(self, path, kind):
        if path in self.images:
            return path
        r = self.rng
        if kind == "preview":
            size = r.randint(50_000, 110_000)
        elif kind == "full":
            size = r.randint(2_000_000, 5_000_000) if r.random() < 0.02 else r.randint(110_000, 450_000)
        elif kind == "cover":
            size = r.randint(60_000, 150_000)
        else:
            size = r.randint(60_000, 400_000)
        self.images[path] = Image(path, size)
        return path


def relative(from_page, target):
    """The relative href from one site path to another, as a site author writes it."""
    from_dir = from_page.split("/")[:-1]
    to = target.split("/")
    common = 0
    while common < len(from_dir) and common < len(to) - 1 and from_dir[common] == to[common]:
        common += 1
    return "/".join([".."] * (len(from_dir) - common) + to[common:])


def build_model(size_name, seed):
    if size_name in CHAINS:
        return build_chain(size_name, seed)
    sections, albums, pages_per_album, previews_per_page = GALLERIES[size_name]
    site = Site(size_name, seed)
    g = START_FOLDER
    banner = site.image(f"{g}/common/gallery_banner.jpg", "cover")

    top = Page("index.html", "写真館 トップ")
    top.links = [f"{g}/index.html", "about.html"]
    top.embeds = ["img/site_logo.jpg"]
    site.image("img/site_logo.jpg", "cover")
    about = Page("about.html", "このサイトについて", links=["index.html"])
    site.outside_pages = [top, about]

    start = Page(f"{g}/index.html", "ギャラリー")
    site.pages.append(start)
    start.embeds.append(banner)
    start.links += ["../index.html", "../about.html", "http://other.invalid/gallery/index.html"]
    for s in range(1, sections + 1):
        sec = f"{g}/sec{s:02d}"
        sec_cover = site.image(f"{sec}/s{s:02d}_cover.jpg", "cover")
        start.embeds.append(sec_cover)
        start.links.append(f"sec{s:02d}/index.html")
        sec_page = Page(f"{sec}/index.html", f"第{s}部")
        site.pages.append(sec_page)
        sec_page.embeds += [banner, sec_cover]
        sec_page.links += ["../index.html", "../../index.html",
                           f"../sec{s % sections + 1:02d}/index.html",
                           f"http://other.invalid/sec{s:02d}/index.html"]
        for a in range(1, albums + 1):
            build_album(site, sec_page, f"{sec}/alb{a:02d}", f"s{s:02d}a{a:02d}", banner,
                        pages_per_album, previews_per_page)
    return site


def build_album(site, sec_page, folder, tag, banner, pages_per_album, previews_per_page):
    cover = site.image(f"{folder}/{tag}_cover.jpg", "cover")
    sec_page.embeds.append(cover)
    sec_page.links.append(relative(sec_page.path, f"{folder}/index.html"))

    index = Page(f"{folder}/index.html", f"アルバム {tag}")
    site.pages.append(index)
    index.embeds += [banner, cover]
    page_names = [f"page{k}.html" for k in range(1, pages_per_album + 1)]
    index.links += page_names + ["slideshow.html", "notes/index.html", "../index.html",
                                 "../../index.html", "../../../index.html", "../../../about.html"]

    fulls = []
    for k, name in enumerate(page_names):
        page = Page(f"{folder}/{name}", f"アルバム {tag} - {k + 1}ページ")
        site.pages.append(page)
        page.embeds.append(banner)
        for n in range(previews_per_page):
            number = k * previews_per_page + n + 1
            preview = site.image(f"{folder}/preview/{tag}_{number:04d}_m.jpg", "preview")
            full = site.image(f"{folder}/full/{tag}_{number:04d}.jpg", "full")
            fulls.append(full)
            page.embeds.append(preview)
            page.links.append(relative(page.path, full))
        if k > 0:
            page.links.append(page_names[k - 1])
        if k + 1 < len(page_names):
            page.links.append(page_names[k + 1])
        page.links += ["index.html", "slideshow.html", "../index.html"]

    slideshow = Page(f"{folder}/slideshow.html", f"アルバム {tag} - スライドショー")
    site.pages.append(slideshow)
    slideshow.embeds = [banner] + fulls
    slideshow.links = ["index.html", page_names[0]]

    notes = Page(f"{folder}/notes/index.html", f"アルバム {tag} - 撮影メモ")
    site.pages.append(notes)
    notes.embeds.append(banner)
    for x in range(1, EXTRAS_PER_ALBUM + 1):
        notes.embeds.append(site.image(f"{folder}/extra/{tag}_x{x}.jpeg", "extra"))
    notes.links = ["../index.html", "../slideshow.html", "../../../../index.html"]


def build_chain(size_name, seed):
    """Pages in one folder, each linking to the next: the crawl goes as deep as there are pages.
    Every page embeds the shared banner and frame and a small picture of its own."""
    count, page_bytes = CHAINS[size_name]
    site = Site(size_name, seed)
    g = START_FOLDER
    banner = site.image(f"{g}/common/gallery_banner.jpg", "cover")
    frame = site.image(f"{g}/common/chain_frame.jpg", "cover")
    names = ["index.html"] + [f"p{k:05d}.html" for k in range(2, count + 1)]
    for k, name in enumerate(names):
        page = Page(f"{g}/{name}", f"連載 第{k + 1}回", padding=page_bytes)
        own = f"{g}/thumbs/c{k + 1:05d}.jpg"
        site.images[own] = Image(own, site.rng.randint(1_500, 3_000))
        page.embeds = [banner, own, frame]
        page.links = ([names[k + 1]] if k + 1 < count else []) + [names[0], "../index.html"]
        if k > 0:
            page.links.append(names[k - 1])
        site.pages.append(page)
    site.outside_pages = [Page("index.html", "写真館 トップ", links=[f"{g}/index.html"])]
    return site


def page_html(page, rng):
    """The page's markup, in code page 932, as a hand-written gallery of the 2000s looks."""
    root_css = "/" + START_FOLDER + "/common/style.css"
    out = ['<!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 4.01 Transitional//EN">',
           "<HTML>", "<HEAD>",
           '<META http-equiv="Content-Type" content="text/html; charset=Shift_JIS">',
           f"<TITLE>{page.title}</TITLE>",
           f'<link rel="stylesheet" type="text/css" href="{root_css}">',
           "</HEAD>", '<BODY bgcolor="#ffffff">', f"<H1>{page.title}</H1>"]
    for i, image in enumerate(page.embeds):
        src = relative(page.path, image)
        if i == 0 and image.endswith("gallery_banner.jpg"):
            out.append(f'<div class="banner"><img src="/{image}" width="600" height="80" alt="バナー"></div>')
            continue
        tag = "IMG SRC" if i % 7 == 3 else "img src"
        caption = JAPANESE_FILLER[: rng.randint(20, len(JAPANESE_FILLER))]
        out.append(f'<div class="photo"><{tag}="{src}" alt="写真 {i}" width="240">'
                   f"<p>{caption}</p></div>")
    out.append("<ul>")
    for link in page.links:
        out.append(f'<li><a href="{link}">{link}</a></li>')
    out.append("</ul>")
    for _ in range(rng.randint(2, 8)):
        out.append(f"<p>{JAPANESE_FILLER}</p>")
    paragraph = len(f"<p>{JAPANESE_FILLER}</p>\r\n".encode("cp932"))
    for _ in range(max(0, page.padding - len("\r\n".join(out).encode("cp932"))) // paragraph):
        out.append(f"<p>{JAPANESE_FILLER}</p>")
    out.append("<!-- 最終更新 2009年4月 -->")
    out.append("</BODY>\r\n</HTML>")
    return "\r\n".join(out).encode("cp932")


def jpeg_bytes(size, rng):
    """A JFIF header, random bytes and the end-of-image marker: size bytes in all."""
    header = b"\xff\xd8\xff\xe0" + struct.pack(">H", 16) + b"JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00"
    return header + rng.randbytes(size - len(header) - 2) + b"\xff\xd9"


def write_site(site, out_dir, seed):
    site_dir = os.path.join(out_dir, "site")
    tmp_dir = site_dir + ".partial"
    shutil.rmtree(tmp_dir, ignore_errors=True)
    html_rng = random.Random(seed + 1)
    data_rng = random.Random(seed + 2)

    def write(path, data):
        full = os.path.join(tmp_dir, *path.split("/"))
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data)

    for page in site.outside_pages + site.pages:
        write(page.path, page_html(page, html_rng))
    for image in sorted(site.images.values(), key=lambda i: i.path):
        write(image.path, jpeg_bytes(image.size, data_rng))
    write(START_FOLDER + "/common/style.css", b"body { font-family: sans-serif; }\n")
    shutil.rmtree(site_dir, ignore_errors=True)
    os.rename(tmp_dir, site_dir)


def manifest(site, seed):
    reachable = set()
    list_entries = 0
    for page in site.pages:
        for image in page.embeds:
            reachable.add(image)
            list_entries += 1
    images = sorted(reachable)
    names = [p.rsplit("/", 1)[1] for p in images]
    assert len(set(names)) == len(names), "image file names must be unique across the site"
    return {
        "version": GENERATOR_VERSION,
        "size": site.size_name,
        "seed": seed,
        "start": START_FOLDER + "/index.html",
        "pages": [p.path for p in site.pages],
        "outside_pages": [p.path for p in site.outside_pages],
        "images": images,
        "image_bytes": sum(site.images[p].size for p in images),
        "list_entries": list_entries,
    }


ATTRIBUTE = re.compile(r'(src|href)="([^"]*)"', re.IGNORECASE)


def page_values(site_dir, page):
    with open(os.path.join(site_dir, *page.split("/")), "rb") as f:
        text = f.read().decode("cp932")
    return [(m.group(1).lower(), m.group(2)) for m in ATTRIBUTE.finditer(text)]


def resolve(page, value):
    """A value of the page as a site path; None for another host or above the site root."""
    if value.startswith("http://"):
        return None
    joined = posixpath.normpath(posixpath.join("/" if value.startswith("/") else posixpath.dirname("/" + page), value))
    return joined.lstrip("/") if not joined.startswith("/..") else None


def embedded_crawl(site_dir, start):
    """What Pixhound's link source 1 reads: the embedded JPEGs of the start page and of every
    .htm/.html page that a read page links to in its own folder or below."""
    pages, images, todo = [start], set(), [start]
    while todo:
        page = todo.pop()
        folder = posixpath.dirname(page) + "/"
        for kind, value in page_values(site_dir, page):
            target = resolve(page, value)
            if target is None:
                continue
            if kind == "src" and value.lower().endswith(("jpg", "jpeg")):
                images.add(target)
            elif kind == "href" and value.lower().endswith(("htm", "html")) \
                    and target.startswith(folder) and target not in pages:
                pages.append(target)
                todo.append(target)
    return set(pages), images


def link_crawl(site_dir, start):
    """What wget -r -np -A htm,html,jpg,jpeg fetches: every link of every kind below the start
    folder, pages followed, images kept."""
    top = posixpath.dirname(start) + "/"
    pages, images, todo = {start}, set(), [start]
    while todo:
        page = todo.pop()
        for _, value in page_values(site_dir, page):
            target = resolve(page, value)
            if target is None or not target.startswith(top):
                continue
            if target.endswith((".htm", ".html")) and target not in pages:
                pages.add(target)
                todo.append(target)
            elif target.endswith((".jpg", ".jpeg")):
                images.add(target)
    return pages, images


def check_site(site_dir, result):
    """Reads the written site back with both crawls and fails unless each finds exactly the
    manifest's pages and images: the tools' jobs are then the same."""
    expected = (set(result["pages"]), set(result["images"]))
    for name, crawl in (("embedded-image crawl", embedded_crawl), ("link crawl", link_crawl)):
        found = crawl(site_dir, result["start"])
        if found != expected:
            raise SystemExit(f"gensite: the {name} of {site_dir} does not match the manifest: "
                             f"{len(found[0])} pages, {len(found[1])} images found")


def ensure_site(size_name, out_root, seed=20090401, force=False):
    """Generates the site into out_root/<size>/ unless an identical one is already there.
    Returns the manifest."""
    out_dir = os.path.join(out_root, size_name)
    manifest_path = os.path.join(out_dir, "manifest.json")
    if not force and os.path.exists(manifest_path):
        with open(manifest_path, encoding="utf-8") as f:
            existing = json.load(f)
        if existing.get("version") == GENERATOR_VERSION and existing.get("seed") == seed:
            return existing
    site = build_model(size_name, seed)
    result = manifest(site, seed)
    os.makedirs(out_dir, exist_ok=True)
    if os.path.exists(manifest_path):
        os.remove(manifest_path)
    write_site(site, out_dir, seed)
    check_site(os.path.join(out_dir, "site"), result)
    # The manifest is written last, so that an interrupted generation is never taken for a site.
    with open(manifest_path + ".partial", "w", encoding="utf-8") as f:
        json.dump(result, f, ensure_ascii=False, indent=1)
    os.replace(manifest_path + ".partial", manifest_path)
    return result


def main():
    parser = argparse.ArgumentParser(description="Generate the benchmark's gallery site.")
    parser.add_argument("--size", choices=sorted(SIZES), default="small")
    parser.add_argument("--out", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "out"))
    parser.add_argument("--force", action="store_true", help="regenerate even when the site exists")
    args = parser.parse_args()
    m = ensure_site(args.size, args.out, force=args.force)
    print(f"{args.size}: {len(m['pages'])} pages, {len(m['images'])} images, "
          f"{m['image_bytes'] / 1e6:.0f} MB, {m['list_entries']} list entries "
          f"-> {os.path.join(args.out, args.size, 'site')}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
