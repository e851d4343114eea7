"""The workspaces page as the server sends it, under the base URL /a%40b/
(what a browser makes of it: test_page_browser.py)."""
import html.parser
import logging
import re
from typing import Dict, List, Tuple

import pytest
from traitlets.config import Config

from corvanix.server.page import handler as page
from helpers import assert_no_leaks


@pytest.fixture
def jp_server_config():
    return Config({"ServerApp": {"jpserver_extensions": {"corvanix.server.extension": True}}})


class Tags(html.parser.HTMLParser):
    """Every start tag of a document with its attributes, and the text of its
    <script> elements."""

    def __init__(self, text: str) -> None:
        super().__init__()
        self.tags: List[Tuple[str, Dict[str, str]]] = []
        self.script_text = ""
        self._in_script = False
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        self.tags.append((tag, dict(attrs)))
        self._in_script = tag == "script"

    def handle_endtag(self, tag):
        self._in_script = False

    def handle_data(self, data):
        if self._in_script:
            self.script_text += data


async def test_page_and_its_files_under_the_base_url(jp_fetch, jp_base_url):
    assert jp_base_url == "/a%40b/"
    response = await jp_fetch(page.ROUTE)
    assert response.code == 200 and response.headers["Content-Type"].startswith("text/html")
    html = response.body.decode()
    assert 'data-api-url="/a%40b/api/zorvik/workspaces"' in html
    assert re.search(r'data-xsrf-token="[^"]+"', html)
    files = re.findall(r'(?:href|src)="/a%40b/static/corvanix/([^"?]+)\?v=[0-9a-f]+"', html)
    assert sorted(files) == ["zorvik-workspaces.css", "zorvik-workspaces.js"]
    for name in files:
        # jp_fetch puts the base URL in front of the path itself.
        served = await jp_fetch("static", "corvanix", name)
        with open(f"{page.STATIC_DIR}/{name}", "rb") as f:
            assert served.body == f.read()

    # No inline code of any kind, and a policy that would refuse it; the
    # server's own directives stay first.
    tags = Tags(html)
    assert tags.script_text.strip() == "" and "style" not in {tag for tag, _ in tags.tags}
    inline = [(tag, name) for tag, attrs in tags.tags for name in attrs
              if name == "style" or name.startswith("on")]
    assert inline == []
    policy = [d.strip() for d in response.headers["Content-Security-Policy"].split(";")]
    assert policy[0] == "frame-ancestors 'self'"
    assert {"default-src 'none'", "script-src 'self'", "style-src 'self'", "connect-src 'self'"} <= set(policy)

    # Nothing busy and no controls until the script runs; the notice first.
    assert "aria-busy" not in html
    actions = next(attrs for tag, attrs in tags.tags if attrs.get("id") == "actions")
    assert "hidden" in actions
    assert html.index("<noscript>") < html.index("<h1>")


@pytest.mark.parametrize("default_url, home", [
    # The server's own default page.
    ("/a%40b/", ("/a%40b/", "the notebook server")),
    ("/a%40b/tree?x=1", ("/a%40b/tree?x=1", "the notebook server")),
    # A server started with the page as its default page has no other home:
    # a link would lead back to the page.
    ("/a%40b/zorvik/workspaces", None),
    ("/a%40b/zorvik/workspaces/?from=start", None),
    ("/a@b/zorvik/workspaces", None),
])
async def test_way_back_to_the_server_home(jp_fetch, jp_serverapp, default_url, home):
    jp_serverapp.default_url = default_url
    html = (await jp_fetch(page.ROUTE)).body.decode()
    links = re.findall(r'<nav class="home"[^>]*><a href="([^"]*)"><span aria-hidden="true">&larr;</span> '
                       r'Back to ([^<]*)</a></nav>', html)
    assert links == ([home] if home else [])
    assert html.count("<a ") == len(links)


def test_page_requests_keep_nothing(jp_fetch, jp_asyncio_loop):
    def once():
        response = jp_asyncio_loop.run_until_complete(jp_fetch(page.ROUTE))
        assert response.code == 200

    # The request log would keep a record per request in the test's log capture.
    logging.disable(logging.INFO)
    try:
        # The server's own caches fill over its first thousand requests or so,
        # and under the sanitizer its allocator's caches make single rounds of
        # a whole server request noisy: the least of more rounds is the growth.
        assert_no_leaks(once, repeat=400, rounds=6, warm_up=1000)
    finally:
        logging.disable(logging.NOTSET)


def _palettes() -> Dict[str, Dict[str, str]]:
    """The stylesheet's colour roles: the light palette of :root, and the
    dark one that its prefers-color-scheme block lays over it."""
    with open(f"{page.STATIC_DIR}/zorvik-workspaces.css") as f:
        css = re.sub(r"/\*.*?\*/", "", f.read(), flags=re.S)
    dark_block = re.search(r"@media \(prefers-color-scheme: dark\)\s*\{\s*:root\s*\{([^}]*)\}", css)
    light_block = re.search(r"(?:^|\})\s*:root\s*\{([^}]*)\}", css)
    assert light_block and dark_block

    def roles(block: str) -> Dict[str, str]:
        return dict(re.findall(r"--([\w-]+):\s*(#[0-9a-fA-F]{6})\s*;", block))

    light = roles(light_block.group(1))
    return {"light": light, "dark": {**light, **roles(dark_block.group(1))}}


def _contrast(a: str, b: str) -> float:
    def luminance(colour: str) -> float:
        channels = [int(colour[i:i + 2], 16) / 255 for i in (1, 3, 5)]
        r, g, b = [c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4 for c in channels]
        return 0.2126 * r + 0.7152 * g + 0.0722 * b
    high, low = sorted((luminance(a), luminance(b)), reverse=True)
    return (high + 0.05) / (low + 0.05)


# Where the stylesheet puts one role on another, and the least contrast that
# use needs: 4.5:1 for text, 3:1 for the borders and focus rings of controls.
USES = [
    ("ink", "page", 4.5), ("ink", "surface", 4.5), ("ink", "accent-soft", 4.5),
    ("muted", "surface", 4.5), ("muted", "accent-soft", 4.5),
    ("accent", "surface", 4.5), ("accent", "accent-soft", 4.5),  # buttons, links, hovered buttons
    ("on-accent", "accent", 4.5), ("danger", "danger-soft", 4.5),
    ("accent", "page", 3.0),  # focus ring just outside the column
]


@pytest.mark.parametrize("scheme", ["light", "dark"])
def test_both_palettes_keep_their_contrast(scheme):
    palette = _palettes()[scheme]
    short = {(fg, bg): round(_contrast(palette[fg], palette[bg]), 2) for fg, bg, least in USES
             if _contrast(palette[fg], palette[bg]) < least}
    assert short == {}
