"""The workspaces page as the server sends it, under the base URL /a%40b/
(what a browser makes of it: test_page_browser.py)."""
import logging
import re
from typing import Dict

import pytest
from traitlets.config import Config

from corvanix.server.page import handler as page
from helpers import assert_no_leaks


@pytest.fixture
def jp_server_config():
    return Config({"ServerApp": {"jpserver_extensions": {"corvanix.server.extension": True}}})


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

    # A policy that refuses inline code (the browser tests run under it); the
    # server's own directives stay first.
    policy = [d.strip() for d in response.headers["Content-Security-Policy"].split(";")]
    assert policy[0] == "frame-ancestors 'self'"
    assert {"default-src 'none'", "script-src 'self'", "style-src 'self'", "connect-src 'self'"} <= set(policy)


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


@pytest.mark.slow
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
    """The stylesheet's colour roles: light in :root, dark in the :root of
    its prefers-color-scheme block, which sets every role anew."""
    with open(f"{page.STATIC_DIR}/zorvik-workspaces.css") as f:
        css = f.read()
    light, dark = [dict(re.findall(r"--([\w-]+):\s*(#[0-9a-f]{6});", block))
                   for block in re.findall(r":root\s*\{([^}]*)\}", css)]
    assert dark.keys() == light.keys()
    return {"light": light, "dark": dark}


def _contrast(a: str, b: str) -> float:
    def luminance(colour: str) -> float:
        c = [int(colour[i:i + 2], 16) / 255 for i in (1, 3, 5)]
        r, g, b = [x / 12.92 if x <= 0.04045 else ((x + 0.055) / 1.055) ** 2.4 for x in c]
        return 0.2126 * r + 0.7152 * g + 0.0722 * b
    high, low = sorted((luminance(a), luminance(b)), reverse=True)
    return (high + 0.05) / (low + 0.05)


# Where the stylesheet puts one role on another, and the least contrast that
# use needs: 4.5:1 for text, 3:1 for a focus ring.
USES = [("ink", "page", 4.5), ("ink", "surface", 4.5), ("ink", "accent-soft", 4.5),
        ("muted", "surface", 4.5), ("muted", "accent-soft", 4.5), ("accent", "surface", 4.5),
        ("accent", "accent-soft", 4.5), ("on-accent", "accent", 4.5),
        ("danger", "danger-soft", 4.5), ("accent", "page", 3.0)]


@pytest.mark.parametrize("scheme", ["light", "dark"])
def test_both_palettes_keep_their_contrast(scheme):
    palette = _palettes()[scheme]
    short = {(fg, bg): round(_contrast(palette[fg], palette[bg]), 2) for fg, bg, least in USES
             if _contrast(palette[fg], palette[bg]) < least}
    assert short == {}
