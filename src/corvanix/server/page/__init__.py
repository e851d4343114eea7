"""The Zorvik workspaces page: an HTML page whose script uses the API route."""
