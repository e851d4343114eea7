"""Helpers shared by the server's handlers.

`parse_zorvik_exception` belongs to the Zorvik functions, whose failures it
reads; the handler imports it from here.
"""
from corvanix.zorvik import parse_zorvik_exception

__all__ = ["parse_zorvik_exception"]
