"""The workspaces page as the server sends it, under the base URL /a%40b/
(what a browser makes of it: test_page_browser.py)."""
import logging
import re

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
