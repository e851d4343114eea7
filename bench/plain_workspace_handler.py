"""The workspace handler as plain Python: the baseline the native module is
measured against.

Same class, methods, calls and answers as the native module: module globals
are read at each use, `json.dumps` runs twice per answer, methods are looked
up on the instance at each call and called with the same keyword names, and
the typed locals are checked the same way (`joined_workspaces` exactly a list
or None, the body exactly a dict or None, `workspace_id` an int or None).
Two error texts that leave a method differ: a refused type is named by its
`__name__`, and a bad `parse_zorvik_exception` result gives the interpreter's
own unpacking message. Neither path is measured.
"""
import json
from http import HTTPStatus
from typing import Any, Dict, List, Union

import requests
import tornado
from jupyter_server.base.handlers import APIHandler

from corvanix.zorvik import get_joined_workspaces, set_joined_workspace
from corvanix.zorvik.schemas import WorkspaceInfo
from corvanix.server.misc.functions import parse_zorvik_exception


def _as_int(value):
    """`int` conversion of a typed local that is neither None nor an int."""
    kind = type(value)
    if (hasattr(kind, "__index__") or hasattr(kind, "__int__") or hasattr(kind, "__float__")
            or isinstance(value, complex)):
        return int(value)
    raise TypeError(f"Expected int, got {kind.__name__}")


class ZRVZorvikWorkspaceHandler(APIHandler):
    def _finish_with_result(self, status_code: Union[int, HTTPStatus], result: Any) -> None:
        self.set_header(name="Content-Type", value="application/json")
        self.set_header(name="Content-Length", value=str(len(json.dumps(result))))
        self.set_status(status_code=int(status_code))
        self.finish(json.dumps(result))

    @tornado.web.authenticated
    def get(self) -> None:
        """
        GET method to retrieve connected workspaces.
        """
        try:
            joined_workspaces: List[WorkspaceInfo] = get_joined_workspaces()
            if joined_workspaces is not None and type(joined_workspaces) is not list:
                raise TypeError(f"Expected list, got {type(joined_workspaces).__name__}")
        except requests.exceptions.ConnectionError:
            self._finish_with_result(status_code=HTTPStatus.BAD_GATEWAY,
                                     result={"error": "Zorvik URL is invalid."})
            return
        except requests.exceptions.RequestException as exp:
            status_code, message = parse_zorvik_exception(error_str=str(exp))
            self._finish_with_result(status_code=status_code, result={"error": message})
            return
        except Exception as e:
            self._finish_with_result(status_code=HTTPStatus.INTERNAL_SERVER_ERROR,
                                     result={"error": str(e)})
            return

        workspaces = [workspace.to_dict() for workspace in joined_workspaces]

        self._finish_with_result(status_code=HTTPStatus.OK, result=workspaces)

    @tornado.web.authenticated
    def post(self) -> None:
        """
        POST method to set workspace id.
        """
        data: Dict[str, Any] = self.get_json_body()
        if data is not None and type(data) is not dict:
            raise TypeError(f"Expected dict, got {type(data).__name__}")

        try:
            workspace_id: int = data["workspace_id"]
            if workspace_id is not None and type(workspace_id) is not int:
                workspace_id = _as_int(workspace_id)
        except KeyError as exp:
            self._finish_with_result(
                status_code=HTTPStatus.BAD_REQUEST,
                result={"message": f"{exp.args[0]} is required in the body of the request."})
            return

        try:
            set_joined_workspace(workspace_id=workspace_id)
        except requests.exceptions.ConnectionError:
            self._finish_with_result(status_code=HTTPStatus.BAD_GATEWAY,
                                     result={"error": "Zorvik URL is invalid."})
            return
        except requests.exceptions.RequestException as exp:
            status_code, message = parse_zorvik_exception(error_str=str(exp))
            self._finish_with_result(status_code=status_code, result={"error": message})
            return
        except Exception as e:
            self._finish_with_result(status_code=HTTPStatus.INTERNAL_SERVER_ERROR,
                                     result={"error": str(e)})
            return

        self._finish_with_result(status_code=HTTPStatus.OK, result={"success": True})
