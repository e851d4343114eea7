"""The floor: per path, only the calls any handler has to make, with every
callable bound beforehand and every constant ready. No handler can cost less.

Each maker takes the pre-bound callables and returns a function called like
the handler method it stands for (the handler argument is ignored).
"""

CONTENT_TYPE = "Content-Type"
CONTENT_LENGTH = "Content-Length"
APPLICATION_JSON = "application/json"
URL_INVALID = "Zorvik URL is invalid."
MISSING_FIELD = "workspace_id is required in the body of the request."


def get_list(r, fetch):
    set_header, set_status, finish, dumps = r.set_header, r.set_status, r.finish, r.dumps

    def get(_handler):
        workspaces = [workspace.to_dict() for workspace in fetch()]
        set_header(CONTENT_TYPE, APPLICATION_JSON)
        set_header(CONTENT_LENGTH, str(len(dumps(workspaces))))
        set_status(200)
        finish(dumps(workspaces))
    return get


def get_connection_error(r, fetch, connection_error):
    set_header, set_status, finish, dumps = r.set_header, r.set_status, r.finish, r.dumps

    def get(_handler):
        try:
            fetch()
        except connection_error:
            body = {"error": URL_INVALID}
            set_header(CONTENT_TYPE, APPLICATION_JSON)
            set_header(CONTENT_LENGTH, str(len(dumps(body))))
            set_status(502)
            finish(dumps(body))
    return get


def get_request_failure(r, fetch, request_exception, parse):
    set_header, set_status, finish, dumps = r.set_header, r.set_status, r.finish, r.dumps

    def get(_handler):
        try:
            fetch()
        except request_exception as exp:
            status_code, message = parse(str(exp))
            body = {"error": message}
            set_header(CONTENT_TYPE, APPLICATION_JSON)
            set_header(CONTENT_LENGTH, str(len(dumps(body))))
            set_status(status_code)
            finish(dumps(body))
    return get


def post_success(r, get_json_body, set_joined):
    set_header, set_status, finish, dumps = r.set_header, r.set_status, r.finish, r.dumps

    def post(_handler):
        set_joined(get_json_body()["workspace_id"])
        body = {"success": True}
        set_header(CONTENT_TYPE, APPLICATION_JSON)
        set_header(CONTENT_LENGTH, str(len(dumps(body))))
        set_status(200)
        finish(dumps(body))
    return post


def post_missing_field(r, get_json_body):
    set_header, set_status, finish, dumps = r.set_header, r.set_status, r.finish, r.dumps

    def post(_handler):
        if "workspace_id" not in get_json_body():
            body = {"message": MISSING_FIELD}
            set_header(CONTENT_TYPE, APPLICATION_JSON)
            set_header(CONTENT_LENGTH, str(len(dumps(body))))
            set_status(400)
            finish(dumps(body))
    return post


def writer(r):
    set_header, set_status, finish, dumps = r.set_header, r.set_status, r.finish, r.dumps

    def finish_with_result(_handler, status_code, result):
        set_header(CONTENT_TYPE, APPLICATION_JSON)
        set_header(CONTENT_LENGTH, str(len(dumps(result))))
        set_status(status_code)
        finish(dumps(result))
    return finish_with_result
