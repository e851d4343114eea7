"""Which certificate authorities an https platform's certificate must come
from: the file (or directory) of the `ca_bundle` option, else of
REQUESTS_CA_BUNDLE, CURL_CA_BUNDLE or SSL_CERT_FILE, the first one set;
else the bundle `requests` ships with.

`requests` itself reads the first two and ignores SSL_CERT_FILE. We read
it too: it is how operators point OpenSSL, curl and Python's own ssl module
at a company's authority, and they expect one setting to serve every client.
"""
import os
from typing import Optional, Tuple, Union

from corvanix.zorvik import _cause, _settings

OPTION = "ZorvikWorkspacesApp.ca_bundle"
ENVIRONMENT = ("REQUESTS_CA_BUNDLE", "CURL_CA_BUNDLE", "SSL_CERT_FILE")


def source(settings: _settings.Settings) -> Optional[Tuple[str, str]]:
    """(path, setting) of the authorities to trust; None: the library's own."""
    if settings.ca_bundle:
        return os.path.expanduser(settings.ca_bundle), OPTION
    for name in ENVIRONMENT:
        path = os.environ.get(name)
        if path:
            return path, name
    return None


def verify(settings: _settings.Settings) -> Union[str, bool]:
    """What the library's `verify` gets for a call to an https platform.
    Raises _cause.Failed for a bundle that is not there."""
    found = source(settings)
    if found is None:
        return True
    path, setting = found
    if not os.path.exists(path):
        raise _cause.Failed(_cause.Cause(
            f"the certificate authorities' file {path} ({setting}) does not exist", 502,
            f"The certificate authorities' file in {setting} cannot be read.", kind="setting"))
    return path
