"""The handler the extension serves the workspaces API with: the native
handler, run cooperatively, with its request bodies bounded.

`get` and `post` are coroutines that run the native methods unchanged (the
class's `authenticated`-wrapped ones) inside a greenlet: where the Zorvik
functions wait for the platform or the disk, the event loop serves other
requests (`corvanix.cooperative`). With `cooperative` off they run on the
loop itself, as the native handler alone does.

A body is refused with 413 before it is read when it is larger than
MAX_BODY_BYTES, and an anonymous request with 403 before its body is read;
the body of an accepted one is collected as it arrives and handed to the
native `post` where `get_json_body` reads it. A body that is not a JSON
object, or whose "workspace_id" is neither an integer nor null, is answered
400 here and never reaches the handler (`body_check`).
"""
import asyncio
import inspect
from http import HTTPStatus
from typing import Callable, List, Optional

from tornado import web

from corvanix import cooperative
from corvanix.server.body_check import body_problem
from corvanix.server.handlers.zorvik.workspace_handler import ZRVZorvikWorkspaceHandler

MAX_BODY_BYTES = 64 * 1024


@web.stream_request_body
class WorkspacesAPIHandler(ZRVZorvikWorkspaceHandler):
    _chunks: Optional[List[bytes]] = None
    _call: Optional[cooperative.Call[None]] = None
    _left = False

    def initialize(self, cooperative: bool = True) -> None:
        self._cooperative = cooperative

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

    async def get(self) -> None:
        await self._serve(super().get)

    async def post(self) -> None:
        self.request.body = b"".join(self._chunks or ())
        problem = body_problem(self.request.body)
        if problem is not None:
            # the handler's own writer: the same headers as its answers
            return self._finish_with_result(status_code=HTTPStatus.BAD_REQUEST,
                                            result={"message": problem})
        await self._serve(super().post)

    async def _serve(self, method: Callable[[], None]) -> None:
        if not self._cooperative:
            return method()
        self._call = cooperative.Call(method)
        try:
            await self._call.result()
        except asyncio.CancelledError:
            if not self._left:
                raise
            # The client left while the call waited: nobody to answer.
        finally:
            self._call = None

    def on_connection_close(self) -> None:
        super().on_connection_close()
        if self._call is not None:
            # What the call waits for is dropped if no worker has it yet.
            self._left = True
            self._call.cancel()
