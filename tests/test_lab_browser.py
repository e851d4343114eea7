"""The Zorvik extension inside a real `jupyter lab`, in Debian's chromium
driven by Playwright: the panel from the palette, joining by keyboard and by
the picker, the status bar item, leaving, a platform failure's text.

Slow (a Lab server and a browser per test). They skip without chromium,
Playwright or JupyterLab in the test environment (the test group installs it
on the newest interpreter), unless WSH_REQUIRE_BROWSER=1 (CI) makes a missing
browser, or JupyterLab where the group installs it, a failure.
WSH_UPDATE_SCREENSHOT=1 writes the image the README shows to docs/.
"""
import asyncio
import contextlib
import importlib.util
import json
import os
import subprocess
import sys
import time
from typing import AsyncIterator, Iterator, List

import pytest
import requests

from helpers import free_port, jupyter_env, stop_process_group
from test_page_browser import bounded, browser_or_skip, png_size
from zorvik_standin import Platform, running_platform

pytestmark = pytest.mark.slow

EXAMPLES = ["Research", "Data Engineering", "Sandbox"]
SIZE = {"width": 1100, "height": 640}
SCREENSHOT = os.path.join(os.path.dirname(__file__), os.pardir, "docs", "zorvik-workspaces-lab.png")
TOKEN = "lab-browser-token"
SANITIZER_PRELOAD = os.environ.get("LD_PRELOAD")
STARTUP_SECONDS = 90
# Lab's first load in a headless browser takes a while; every action after it less.
LOAD_LIMIT_MS = 60_000
ACTION_LIMIT_MS = 10_000
# Lab's own question about its news would put a notification beside ours.
USER_SETTINGS = {"@jupyterlab/apputils-extension/notification.jupyterlab-settings": {"fetchNews": "false"}}


@pytest.fixture
def chromium(monkeypatch):
    """Debian's chromium, Playwright and JupyterLab, or a skip (a failure in CI)."""
    browser = browser_or_skip(monkeypatch)
    if importlib.util.find_spec("jupyterlab") is None:
        if os.environ.get("WSH_REQUIRE_BROWSER") == "1" and sys.version_info[:2] == (3, 13):
            pytest.fail("JupyterLab is not installed, though the test group has it here")
        pytest.skip("JupyterLab is not installed (the test group has it on CPython 3.13)")
    return browser


@contextlib.contextmanager
def running_lab(tmp_path, zorvik_url=None) -> Iterator[str]:
    """`jupyter lab` of this environment on 127.0.0.1, the embedded store in
    tmp_path (or the platform at zorvik_url); yields its address."""
    home = tmp_path / "home"
    settings_dir = home / "config" / "lab" / "user-settings"
    for name, value in USER_SETTINGS.items():
        path = settings_dir / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(json.dumps(value))
    env = jupyter_env(str(home), {k: v for k, v in os.environ.items()
                                  if not k.startswith(("JUPYTER_", "WSH_")) and k != "ZORVIK_URL"})
    # The server imports our module, which the sanitized run builds against
    # the runtime it preloads (the browser fixture took that out of os.environ).
    env.pop("LD_PRELOAD", None)
    if SANITIZER_PRELOAD:
        env["LD_PRELOAD"] = SANITIZER_PRELOAD
    env["HOME"] = str(home)
    if zorvik_url:
        env["ZORVIK_URL"] = zorvik_url
    port = free_port()
    log_path = tmp_path / "lab.log"
    with open(log_path, "w") as log:
        proc = subprocess.Popen(
            [sys.executable, "-m", "jupyterlab", "--ip=127.0.0.1", f"--port={port}",
             "--ServerApp.port_retries=0", "--no-browser", "--allow-root",
             f"--IdentityProvider.token={TOKEN}", f"--ServerApp.root_dir={home}",
             f"--ZorvikWorkspacesApp.store_path={tmp_path / 'store.json'}"],
            cwd=str(home), env=env, stdout=log, stderr=subprocess.STDOUT,
            stdin=subprocess.DEVNULL, start_new_session=True)
    try:
        base = f"http://127.0.0.1:{port}/"
        deadline = time.monotonic() + STARTUP_SECONDS
        while True:
            assert proc.poll() is None and time.monotonic() < deadline, \
                f"jupyter lab did not answer (exit {proc.poll()}):\n{log_path.read_text()}"
            try:
                requests.get(base + "api", timeout=5)
                break
            except requests.ConnectionError:
                time.sleep(0.3)
        yield base
    finally:
        stop_process_group(proc)


def joined_by_api(base) -> List[str]:
    answer = requests.get(base + "api/zorvik/workspaces", headers={"Authorization": f"token {TOKEN}"},
                          timeout=10)
    return [w["name"] for w in answer.json() if w["current"]]


@contextlib.asynccontextmanager
async def lab_page(chromium: str, base: str) -> AsyncIterator["playwright.async_api.Page"]:
    """Lab loaded in a fresh browser; fails on any script error or error in
    the console."""
    from playwright.async_api import TimeoutError, async_playwright

    async with async_playwright() as playwright:
        browser = await playwright.chromium.launch(executable_path=chromium, headless=True,
                                                   timeout=ACTION_LIMIT_MS * 3)
        try:
            page = await (await browser.new_context(viewport=SIZE)).new_page()
            errors: List[str] = []
            page.on("pageerror", lambda error: errors.append(str(error)))
            # The browser itself logs each error answer, which the failure test asks for.
            page.on("console", lambda message: message.type == "error"
                    and not message.text.startswith("Failed to load resource: the server responded")
                    and errors.append(message.text))
            await page.goto(f"{base}lab?token={TOKEN}")
            await page.wait_for_selector(".jp-ZorvikStatus", timeout=LOAD_LIMIT_MS)
            page.set_default_timeout(ACTION_LIMIT_MS)
            await settled(page)
            # Lab's start-up ends by giving its launcher the focus; a palette
            # opened before that would close under the test's hands.
            with contextlib.suppress(TimeoutError):
                await page.wait_for_function(
                    "() => document.activeElement && document.activeElement.closest('.jp-Launcher') !== null",
                    timeout=5000)
            yield page
            assert errors == []
        finally:
            await browser.close()


async def settled(page) -> None:
    await page.wait_for_selector('#zorvik-workspaces-panel[aria-busy="false"]', state="attached")


async def palette_search(page, text: str, active: str = None) -> None:
    """Opens the palette by keyboard and types text; waits for the active item
    to be `active` where given."""
    from playwright.async_api import TimeoutError

    search = page.locator(".lm-CommandPalette-input")
    # Lab's modal palette closes when it loses the focus, which Lab's own
    # start-up (the launcher taking it) may do just after it opened: again then.
    for attempt in range(3):
        if not await search.is_visible():
            await page.keyboard.press("Control+Shift+C")
        try:
            await search.fill(text, timeout=3000)
            if active is not None:
                await page.locator(".lm-CommandPalette-item.lm-mod-active", has_text=active).wait_for(timeout=3000)
            return
        except TimeoutError:
            if attempt == 2:
                raise


async def from_palette(page, label: str) -> None:
    """Runs a command as a keyboard user does: the palette, its name, Enter."""
    await palette_search(page, label, active=label)
    await page.keyboard.press("Enter")


async def status(page) -> str:
    return await page.locator(".jp-ZorvikStatus").inner_text()


async def marked(page) -> List[str]:
    return await page.locator('.jp-ZorvikPanel-item[aria-current="true"] .jp-ZorvikPanel-name').all_inner_texts()


async def focused(page) -> str:
    return await page.evaluate("() => document.activeElement.getAttribute('aria-label') || document.activeElement.tagName")


@bounded
async def test_panel_from_the_palette_join_status_and_leave(chromium, tmp_path):
    with running_lab(tmp_path) as base:
        async with lab_page(chromium, base) as page:
            # Every command is found under "Zorvik", none among Lab's own workspaces.
            await palette_search(page, "Zorvik")
            offered = await page.locator(".lm-CommandPalette-item .lm-CommandPalette-itemLabel").all_inner_texts()
            assert {"Open Zorvik Workspaces Panel", "Join Zorvik Workspace…",
                    "Leave Zorvik Workspace"} <= set(offered)
            await page.keyboard.press("Escape")
            await page.locator(".lm-CommandPalette-input").wait_for(state="hidden")
            assert await status(page) == "Zorvik: none joined"

            await from_palette(page, "Open Zorvik Workspaces Panel")
            panel = page.locator("#zorvik-workspaces-panel")
            await panel.wait_for(state="visible")
            await settled(page)
            assert await panel.locator(".jp-ZorvikPanel-name").all_inner_texts() == EXAMPLES
            # By keyboard: the focus is in the list, Tab goes through its buttons.
            await page.wait_for_function(
                "() => document.querySelector('#zorvik-workspaces-panel').contains(document.activeElement)")
            await page.keyboard.press("Tab")
            await page.keyboard.press("Tab")
            assert await focused(page) == "Join Data Engineering"
            await page.keyboard.press("Enter")
            await settled(page)
            assert await marked(page) == ["Data Engineering"]
            assert await page.locator(".jp-ZorvikPanel-joined").inner_text() == "Joined: Data Engineering"
            assert await focused(page) == "Join Data Engineering"
            assert await status(page) == "Zorvik: Data Engineering"
            assert joined_by_api(base) == ["Data Engineering"]
            await page.locator(":focus").blur()
            screenshot = SCREENSHOT if os.environ.get("WSH_UPDATE_SCREENSHOT") == "1" else str(tmp_path / "lab.png")
            await page.screenshot(path=screenshot)
            assert png_size(screenshot) == (SIZE["width"], SIZE["height"])

            # The status item brings the panel back once another sidebar panel is shown.
            await page.locator('.jp-SideBar [data-id="filebrowser"]').click()
            await panel.wait_for(state="hidden")
            await page.locator(".jp-ZorvikStatus").click()
            await panel.wait_for(state="visible")

            # Joined from elsewhere (the standalone page, say): Lab shows it on focus.
            requests.post(base + "api/zorvik/workspaces", json={"workspace_id": 3},
                          headers={"Authorization": f"token {TOKEN}"}, timeout=10).raise_for_status()
            await page.evaluate("() => window.dispatchEvent(new Event('focus'))")
            await page.wait_for_function(
                "() => document.querySelector('.jp-ZorvikStatus').textContent === 'Zorvik: Sandbox'")

            # The picker, by name.
            await from_palette(page, "Join Zorvik Workspace…")
            dialog = page.locator(".jp-Dialog")
            await dialog.locator("select").select_option(label="Research")
            await dialog.locator(".jp-Dialog-button.jp-mod-accept").click()
            await page.wait_for_function(
                "() => document.querySelector('.jp-ZorvikStatus').textContent === 'Zorvik: Research'")
            assert joined_by_api(base) == ["Research"]

            await from_palette(page, "Leave Zorvik Workspace")
            await page.wait_for_function(
                "() => document.querySelector('.jp-ZorvikStatus').textContent === 'Zorvik: none joined'")
            await settled(page)
            assert await marked(page) == [] and joined_by_api(base) == []
            assert await page.locator(".jp-ZorvikPanel-joined").inner_text() == "Not joined to any Zorvik workspace."

            # Lab's dark theme: the panel in its colours (opaque "rgb(r, g, b)").
            await from_palette(page, "Use Theme: JupyterLab Dark")
            await page.wait_for_function("() => document.body.dataset.jpThemeLight === 'false'")
            await page.wait_for_function("""() => {
                const style = getComputedStyle(document.querySelector('#zorvik-workspaces-panel'));
                const level = c => Math.max(...c.match(/\\d+/g).slice(0, 3).map(Number));
                return level(style.backgroundColor) < 80 && level(style.color) > 160;
            }""")


@bounded
async def test_a_platform_failure_is_shown_and_the_panel_recovers(chromium, tmp_path):
    platform = Platform()
    # 2**53 + 1: a number would round it to 2**53.
    platform.workspaces = [{"id": 10, "name": "Platform Research"}, {"id": 2**53 + 1, "name": "Far"}]
    with running_platform(platform) as url, running_lab(tmp_path, url) as base:
        async with lab_page(chromium, base) as page:
            await page.locator(".jp-ZorvikStatus").press("Enter")
            await settled(page)
            platform.fail_status, platform.fail_message = 504, "The platform timed out."
            await page.get_by_role("button", name="Join Platform Research").click()
            await settled(page)
            text = "Error 502: The Zorvik platform answered 504 Gateway Timeout: The platform timed out."
            assert await page.locator(".jp-ZorvikPanel-error").inner_text() == text
            # and as a Lab notification (two, when the opening's own reload
            # ran only after the platform began to fail)
            await page.locator(".Toastify__toast", has_text=text).first.wait_for()
            assert await marked(page) == [] and platform.current is None

            platform.fail_status = None
            await page.get_by_role("button", name="Join Far").click()
            await settled(page)
            assert await page.locator(".jp-ZorvikPanel-error").is_hidden()
            assert platform.current == 2**53 + 1 and await marked(page) == ["Far"]
            assert await status(page) == "Zorvik: Far"
