from http import HTTPStatus
from typing import Any, Dict, List, Union

from jupyter_server.base.handlers import APIHandler

class ZRVZorvikWorkspaceHandler(APIHandler):
    def _finish_with_result(
        self,
        status_code: Union[int, HTTPStatus],
        result: Union[Dict[str, Any], List[Dict[str, Any]]],
    ) -> None: ...
    def get(self) -> None:
        """GET method to retrieve connected workspaces."""
    def post(self) -> None:
        """POST method to set workspace id."""
