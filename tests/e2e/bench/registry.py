"""Registry edits for a Wine prefix, written as one .reg file per batch and
applied with `wine reg import` (one Wine start instead of one per value)."""

from __future__ import annotations

from dataclasses import dataclass


@dataclass(frozen=True)
class RegValue:
    kind: str  # "sz", "expand_sz", "dword", "binary"
    data: object


def sz(text: str) -> RegValue:
    return RegValue("sz", text)


def expand_sz(text: str) -> RegValue:
    return RegValue("expand_sz", text)


def dword(number: int) -> RegValue:
    return RegValue("dword", number)


def binary(data: bytes) -> RegValue:
    return RegValue("binary", bytes(data))


DELETE = None  # as a value: remove it

_ROOTS = {"HKCU": "HKEY_CURRENT_USER", "HKLM": "HKEY_LOCAL_MACHINE"}


def _full_key(key: str) -> str:
    root, _, rest = key.partition("\\")
    return _ROOTS.get(root, root) + ("\\" + rest if rest else "")


def _quote(text: str) -> str:
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def _hex(kind_prefix: str, data: bytes) -> str:
    return f"{kind_prefix}:" + ",".join(f"{b:02x}" for b in data)


def _format_value(value: RegValue) -> str:
    if value.kind == "sz":
        return _quote(str(value.data))
    if value.kind == "dword":
        return f"dword:{int(value.data) & 0xFFFFFFFF:08x}"
    if value.kind == "expand_sz":
        return _hex("hex(2)", (str(value.data) + "\0").encode("utf-16-le"))
    if value.kind == "binary":
        return _hex("hex", value.data)
    raise ValueError(f"unknown registry value kind {value.kind}")


def reg_file_text(edits: dict[str, dict[str, RegValue | None] | None]) -> str:
    """edits: key -> {value name -> RegValue, or None to delete it}; a key
    mapped to None is deleted with everything under it."""
    lines = ["Windows Registry Editor Version 5.00", ""]
    for key, values in edits.items():
        if values is None:
            lines += [f"[-{_full_key(key)}]", ""]
            continue
        lines.append(f"[{_full_key(key)}]")
        for name, value in values.items():
            shown = "@" if name == "" else _quote(name)
            lines.append(f"{shown}=-" if value is None else f"{shown}={_format_value(value)}")
        lines.append("")
    return "\r\n".join(lines) + "\r\n"


def reg_file_bytes(edits: dict[str, dict[str, RegValue | None] | None]) -> bytes:
    return b"\xff\xfe" + reg_file_text(edits).encode("utf-16-le")
