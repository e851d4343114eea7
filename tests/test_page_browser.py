"""The workspaces page in a real browser: Debian's chromium, headless, driven
by Playwright, against a real Jupyter server under the base URL /a%40b/.

Slow (a browser and a server per test): they run where WSH_SLOW_TESTS=1 asks
for them. Without chromium (or Playwright) they skip, unless
WSH_REQUIRE_BROWSER=1 (CI) makes that a failure. WSH_UPDATE_SCREENSHOT=1
writes the page's image to docs/, where the README shows it.
"""
import asyncio
import contextlib
import functools
import json
import os
import re
import struct
from typing import AsyncIterator, List
from urllib.parse import parse_qs, urlsplit

import pytest
from traitlets.config import Config

from corvanix.server.page import handler as page_handler
from helpers import free_port
from zorvik_standin import Platform, running_platform

pytestmark = pytest.mark.slow

CHROMIUM = "/usr/bin/chromium"
API_ROUTE = "api/zorvik/workspaces"
EXAMPLES = ["Research", "Data Engineering", "Sandbox"]
# The README's image: a fixed size, so that refreshing it changes only what the page shows.
SIZE = {"width": 720, "height": 420}
SCREENSHOT = os.path.join(os.path.dirname(__file__), os.pardir, "docs", "zorvik-workspaces-page.png")
# Every browser action waits at most this long; a whole test at most TEST_LIMIT_S.
ACTION_LIMIT_MS = 10_000
TEST_LIMIT_S = 120


@pytest.fixture
def jp_server_config():
    # As tools/serve --server runs it: the page is the server's front page, so
    # the image shows what that command's users get.
    return Config({"ServerApp": {"jpserver_extensions": {"corvanix.server.extension": True},
                                 "default_url": "/" + page_handler.ROUTE}})


@pytest.fixture
def chromium(monkeypatch):
    return browser_or_skip(monkeypatch)


def browser_or_skip(monkeypatch):
    """Debian's chromium and Playwright's client for it, or a skip (a failure in CI)."""
    try:
        import playwright.async_api  # noqa: F401
    except ImportError:
        missing = "Playwright is not installed"
    else:
        missing = None if os.access(CHROMIUM, os.X_OK) else f"{CHROMIUM} is missing (apt-get install chromium)"
    if missing:
        if os.environ.get("WSH_REQUIRE_BROWSER") == "1":
            pytest.fail(missing)
        pytest.skip(missing)
    # The browser and Playwright's driver are not ours to run under the
    # sanitizer runtime that the sanitized test run preloads.
    monkeypatch.delenv("LD_PRELOAD", raising=False)
    return CHROMIUM


@pytest.fixture
def site(jp_serverapp, http_server, jp_http_port, jp_base_url):
    """The page's address on the listening server."""
    return f"http://127.0.0.1:{jp_http_port}{jp_base_url}{page_handler.ROUTE}"


@pytest.fixture
def token(jp_serverapp):
    return jp_serverapp.identity_provider.token


@pytest.fixture
def platform(monkeypatch):
    """The stand-in Zorvik platform, one of its names written as markup."""
    p = Platform()
    p.workspaces = [{"id": 10, "name": "Platform Research"},
                    {"id": 20, "name": '<img src=x onerror="document.title=1">Ops'}]
    with running_platform(p) as url:
        monkeypatch.setenv("ZORVIK_URL", url)
        yield p


def bounded(test):
    """Runs the test's browser work within TEST_LIMIT_S."""
    @functools.wraps(test)  # its signature names the fixtures
    async def run(*args, **kwargs):
        await asyncio.wait_for(test(*args, **kwargs), TEST_LIMIT_S)
    return run


@contextlib.asynccontextmanager
async def browser_page(chromium: str, **context_options) -> AsyncIterator["playwright.async_api.Page"]:
    """A fresh browser (no cookies) with one page, the context's options as
    given (viewport, color_scheme, java_script_enabled); fails on any script
    error and on anything the page's Content-Security-Policy refused."""
    from playwright.async_api import async_playwright

    async with async_playwright() as playwright:
        browser = await playwright.chromium.launch(executable_path=chromium, headless=True,
                                                   timeout=ACTION_LIMIT_MS * 3)
        try:
            context = await browser.new_context(**{"viewport": SIZE, **context_options})
            page = await context.new_page()
            page.set_default_timeout(ACTION_LIMIT_MS)
            errors: List[str] = []
            page.on("pageerror", lambda error: errors.append(str(error)))
            page.on("console", lambda message: "Content Security Policy" in message.text
                    and errors.append(message.text))
            yield page
            assert errors == []
        finally:
            await browser.close()


async def settled(page) -> None:
    """Waits for the page's request (list, join or leave) to be answered."""
    await page.wait_for_selector('main[aria-busy="false"]')


async def names(page) -> List[str]:
    return await page.locator("#workspaces li .name").all_inner_texts()


async def marked(page) -> List[str]:
    return await page.locator('#workspaces li[aria-current="true"] .name').all_inner_texts()


async def error_shown(page) -> str:
    error = page.locator("#error")
    return "" if await error.is_hidden() else await error.inner_text()


async def click(page, name: str) -> None:
    await page.get_by_role("button", name=name, exact=True).click()
    await settled(page)


async def press_enter(page, name: str) -> None:
    """The keyboard's way: the button focused, then Enter."""
    await page.get_by_role("button", name=name, exact=True).focus()
    await page.keyboard.press("Enter")
    await settled(page)


async def focused(page) -> str:
    """The accessible name of the focused element (the page's <body> has none)."""
    return await page.evaluate("() => document.activeElement.getAttribute('aria-label') || document.activeElement.tagName")


async def announced(page) -> str:
    return await page.get_by_role("status").inner_text()


async def joined_by_api(jp_fetch) -> List[str]:
    response = await jp_fetch(API_ROUTE)
    return [w["name"] for w in json.loads(response.body) if w["current"]]


def png_size(path: str):
    with open(path, "rb") as f:
        header = f.read(24)
    assert header[:8] == b"\x89PNG\r\n\x1a\n"
    return struct.unpack(">II", header[16:24])


@bounded
async def test_join_move_leave_and_an_unreachable_platform(chromium, site, token, jp_fetch,
                                                          monkeypatch, tmp_path):
    async with browser_page(chromium) as page:
        await page.goto(f"{site}?token={token}")
        await settled(page)
        # Logged in by the token, which then left the address; the base URL kept its %40.
        assert page.url == site and "/a%40b/" in page.url
        assert await names(page) == EXAMPLES and await marked(page) == []

        # By keyboard: the focus stays on the joined row's button, so Tab goes
        # on from there; the status line announces the joined workspace.
        await press_enter(page, "Join Data Engineering")
        assert await marked(page) == ["Data Engineering"]
        assert await joined_by_api(jp_fetch) == ["Data Engineering"]
        assert await focused(page) == "Join Data Engineering"
        assert await announced(page) == "Joined: Data Engineering"
        await page.keyboard.press("Tab")
        assert await focused(page) == "Join Sandbox"
        await page.locator(":focus").blur()
        screenshot = SCREENSHOT if os.environ.get("WSH_UPDATE_SCREENSHOT") == "1" else str(tmp_path / "page.png")
        await page.screenshot(path=screenshot)
        assert png_size(screenshot) == (SIZE["width"], SIZE["height"])

        await click(page, "Join Research")
        assert await marked(page) == ["Research"]
        assert await joined_by_api(jp_fetch) == ["Research"]

        # The login cookie alone, as a browser coming back later.
        await page.goto(site)
        await settled(page)
        assert await marked(page) == ["Research"]
        # Leaving by keyboard leaves the focus on a control that can be used:
        # the Join button of the workspace just left.
        await press_enter(page, "Leave workspace")
        assert await marked(page) == [] and await joined_by_api(jp_fetch) == []
        assert await page.get_by_role("button", name="Leave workspace").is_disabled()
        assert await focused(page) == "Join Research"
        assert await page.get_by_role("button", name="Join Research").is_enabled()
        assert await announced(page) == "Not joined to any workspace."

        monkeypatch.setenv("ZORVIK_URL", f"http://127.0.0.1:{free_port()}/")
        await click(page, "Join Sandbox")
        assert await error_shown(page) == "Error 502: Zorvik URL is invalid."
        # Within the cool-down the platform is not tried again: the answer says when it is.
        await click(page, "Reload")
        assert (await error_shown(page)).startswith("Error 502: The Zorvik platform could not be reached.")

        # Usable again once the platform is back.
        monkeypatch.delenv("ZORVIK_URL")
        await click(page, "Reload")
        assert await error_shown(page) == "" and await names(page) == EXAMPLES
        await click(page, "Join Sandbox")
        assert await marked(page) == ["Sandbox"] and await joined_by_api(jp_fetch) == ["Sandbox"]


@pytest.mark.parametrize("case", ["unknown workspace", "platform time-out"])
@bounded
async def test_platform_failures_are_shown_and_the_page_recovers(chromium, site, token, platform,
                                                                 jp_fetch, case):
    markup_name = platform.workspaces[1]["name"]
    async with browser_page(chromium) as page:
        await page.goto(f"{site}?token={token}")
        await settled(page)
        # A name is shown as the text it is, never run as markup.
        assert await names(page) == ["Platform Research", markup_name]
        assert await page.locator("#workspaces img").count() == 0

        if case == "unknown workspace":
            # Deleted on the platform since the page listed it.
            del platform.workspaces[1]
            await click(page, f"Join {markup_name}")
            assert await error_shown(page) == "Error 404: Workspace 20 does not exist."
            assert await names(page) == ["Platform Research"]
        else:
            platform.fail_status, platform.fail_message = 504, "The platform timed out."
            await click(page, "Join Platform Research")
            assert await error_shown(page) == ("Error 502: The Zorvik platform answered 504 "
                                               "Gateway Timeout: The platform timed out.")
            assert await marked(page) == []
            platform.fail_status = None
            await click(page, "Reload")
            assert await error_shown(page) == ""

        await click(page, "Join Platform Research")
        assert await error_shown(page) == "" and await marked(page) == ["Platform Research"]
        assert platform.current == 10 and await joined_by_api(jp_fetch) == ["Platform Research"]
        # The markup in the name never ran (it would have set the title).
        assert await page.title() == "Zorvik workspaces"


@bounded
async def test_anonymous_browser_is_sent_to_log_in(chromium, site, token, jp_base_url):
    async with browser_page(chromium) as page:
        for query in (f"?token=wrong-{token}", ""):
            await page.goto(site + query)
            where = urlsplit(page.url)
            assert where.path == f"{jp_base_url}login"
            assert parse_qs(where.query)["next"] == [f"{jp_base_url}{page_handler.ROUTE}{query}"]
            assert await page.locator("#workspaces").count() == 0
            assert "Research" not in await page.content()
        # Logging in on that page with the token brings the browser back to the list.
        await page.fill("#password_input", token)
        await page.click("#login_submit")
        await page.wait_for_url(site)
        await settled(page)
        assert await names(page) == EXAMPLES


# A browser whose JSON.parse hands revivers no source text: the page keeps to
# the ids that a number holds exactly.
WITHOUT_SOURCE_TEXT = """
    const parse = JSON.parse;
    JSON.parse = function (text, reviver) {
        return parse(text, typeof reviver !== "function" ? reviver
                     : function (key, value) { return reviver.call(this, key, value); });
    };
"""


@pytest.mark.parametrize("source_text", [True, False], ids=["source text", "numbers only"])
@bounded
async def test_ids_beyond_numbers_are_joined_exactly_or_not_offered(chromium, site, token, platform,
                                                                   source_text):
    # 2**53 + 1 reads as the number 2**53; 10**400 as Infinity.
    ids = {"Near": 2**53, "Far": 2**53 + 1, "Huge": 10**400, "Small": 7}
    platform.workspaces = [{"id": i, "name": name} for name, i in ids.items()]
    async with browser_page(chromium) as page:
        if not source_text:
            await page.add_init_script(WITHOUT_SOURCE_TEXT)
        await page.goto(f"{site}?token={token}")
        await settled(page)
        offered = await page.locator("#workspaces button").evaluate_all(
            "buttons => buttons.map(b => b.getAttribute('aria-label'))")
        notes = await page.locator("#workspaces .note").all_inner_texts()
        if source_text:
            assert offered == [f"Join {name}" for name in ids] and notes == []
            joining = ["Far", "Huge", "Near"]
        else:
            assert offered == ["Join Small"]
            assert notes == ["This browser cannot read its id exactly, so it cannot be joined here."] * 3
            joining = ["Small"]
        for name in joining:
            await click(page, f"Join {name}")
            assert platform.current == ids[name] and await marked(page) == [name]
            assert await error_shown(page) == ""


LONG_NAME = "W" * 300
SETTINGS = {
    "dark": {"color_scheme": "dark"},
    "narrow": {"viewport": {"width": 360, "height": 640}},
    "no script": {"java_script_enabled": False},
}


@pytest.mark.parametrize("setting", SETTINGS)
@bounded
async def test_page_in_the_reader_s_settings(chromium, site, token, platform, setting):
    platform.workspaces = [{"id": 10, "name": LONG_NAME}, {"id": 30, "name": "  "}]
    platform.current = 10
    async with browser_page(chromium, **SETTINGS[setting]) as page:
        await page.goto(f"{site}?token={token}")
        if setting == "no script":
            # The notice first, then the way back and the title; nothing
            # loading, busy or dead.
            text = await page.locator("main").inner_text()
            assert text.startswith("This page needs JavaScript") and "Loading" not in text
            assert await page.locator('[aria-busy="true"]').count() == 0
            assert await page.get_by_role("button").count() == 0
            return
        await settled(page)
        # A long name is shown whole and wraps; an empty one gets a placeholder
        # and a button that still says which workspace.
        assert await names(page) == [LONG_NAME, "Unnamed workspace (id 30)"]
        assert await page.get_by_role("button", name="Join Unnamed workspace (id 30)").is_enabled()
        assert await announced(page) == f"Joined: {LONG_NAME}"
        width = await page.evaluate("() => [document.documentElement.scrollWidth, window.innerWidth]")
        assert width[0] <= width[1]
        if setting == "dark":
            # Computed colours are opaque "rgb(r, g, b)": page and column dark, text light.
            colours = await page.evaluate("""() => [getComputedStyle(document.documentElement).backgroundColor,
                ...["backgroundColor", "color"].map(p => getComputedStyle(document.querySelector("main"))[p])]""")
            assert all(c.startswith("rgb(") for c in colours), colours
            (page_background, column, text) = [[int(n) for n in re.findall(r"\d+", c)] for c in colours]
            assert max(page_background + column) < 64 and min(text) > 192
