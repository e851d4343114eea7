"""The handler the extension serves the workspaces API with: the native
handler, with its request bodies bounded.

A body is refused with 413 before it is read when it is larger than
MAX_BODY_BYTES, and an anonymous request with 403 before its body is read;
the body of an accepted one is collected as it arrives and handed to the
native `post` where `get_json_body` reads it.
"""
import inspect
from typing import List, Optional

from tornado import web

from corvanix.server.handlers.zorvik.workspace_handler import ZRVZorvikWorkspaceHandler

MAX_BODY_BYTES = 64 * 1024


@web.stream_request_body
class WorkspacesAPIHandler(ZRVZorvikWorkspaceHandler):
    _chunks: Optional[List[bytes]] = None

    async def prepare(self) -> None:
        prepared = super().prepare()
        if inspect.isawaitable(prepared):  # it is a coroutine from jupyter_server 2 on
            await prepared
        if self.current_user is None:
            raise web.HTTPError(403)
        length = self.request.headers.get("Content-Length", "")
        if length.isdigit() and int(length) > MAX_BODY_BYTES:
            raise web.HTTPError(413, f"A request body may hold at most {MAX_BODY_BYTES} bytes.")
        # A chunked body past it ends the connection instead.
        self.request.connection.set_max_body_size(MAX_BODY_BYTES)
        self._chunks = []

    def data_received(self, chunk: bytes) -> None:
        if self._chunks is not None:  # none once refused
            self._chunks.append(chunk)

    def post(self) -> None:
        self.request.body = b"".join(self._chunks or ())
        return super().post()
