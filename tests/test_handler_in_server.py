"""The handler inside a real Jupyter server, as a client sees it."""
import json

import pytest
import requests
from jupyter_server.utils import url_path_join
from tornado.httpclient import HTTPClientError

from corvanix.zorvik.schemas import WorkspaceInfo

ROUTE = "api/zorvik/test-workspaces"


@pytest.fixture
def route(jp_serverapp, jp_base_url, wh):
    jp_serverapp.web_app.add_handlers(
        ".*$", [(url_path_join(jp_base_url, ROUTE), wh.ZRVZorvikWorkspaceHandler)])
    return ROUTE


@pytest.fixture
def siblings(wh, monkeypatch):
    state = {"joined": None}

    def set_joined_workspace(workspace_id):
        state["joined"] = workspace_id

    monkeypatch.setattr(wh, "get_joined_workspaces",
                        lambda: [WorkspaceInfo(1, "Research"), WorkspaceInfo(2, "Sandbox")])
    monkeypatch.setattr(wh, "set_joined_workspace", set_joined_workspace)
    return state


def check_json_answer(response):
    assert response.headers["Content-Type"].startswith("application/json")
    assert int(response.headers["Content-Length"]) == len(response.body)
    return json.loads(response.body)


async def test_get(jp_fetch, route, siblings):
    response = await jp_fetch(route)
    assert response.code == 200
    assert check_json_answer(response) == [
        {"id": 1, "name": "Research", "current": False}, {"id": 2, "name": "Sandbox", "current": False}]


async def test_post(jp_fetch, route, siblings):
    response = await jp_fetch(route, method="POST", body=json.dumps({"workspace_id": 2}))
    assert response.code == 200
    assert check_json_answer(response) == {"success": True}
    assert siblings["joined"] == 2


async def test_post_without_member(jp_fetch, route, siblings):
    with pytest.raises(HTTPClientError) as info:
        await jp_fetch(route, method="POST", body="{}")
    assert info.value.code == 400
    assert check_json_answer(info.value.response) == {
        "message": "workspace_id is required in the body of the request."}
    assert siblings["joined"] is None


async def test_connection_error(jp_fetch, route, wh, monkeypatch):
    def unreachable():
        raise requests.exceptions.ConnectionError("no route to host")

    monkeypatch.setattr(wh, "get_joined_workspaces", unreachable)
    with pytest.raises(HTTPClientError) as info:
        await jp_fetch(route)
    assert info.value.code == 502
    assert check_json_answer(info.value.response) == {"error": "Zorvik URL is invalid."}


@pytest.mark.parametrize("method, body", [("GET", None), ("POST", '{"workspace_id": 1}')])
async def test_unauthenticated_request_is_refused(jp_fetch, route, siblings, method, body):
    with pytest.raises(HTTPClientError) as info:
        await jp_fetch(route, method=method, body=body, headers={"Authorization": ""})
    assert info.value.code == 403
    assert siblings["joined"] is None
