"""The user's proxy configuration as WinHTTP reads it under Wine: the binary
value DefaultConnectionSettings under Internet Settings\\Connections."""

from __future__ import annotations

import struct
from dataclasses import dataclass

CONNECTIONS_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections"
VALUE_NAME = "DefaultConnectionSettings"

FLAG_DIRECT = 0x1
FLAG_PROXY = 0x2
FLAG_AUTO_CONFIG_URL = 0x4
FLAG_AUTO_DETECT = 0x8


@dataclass(frozen=True)
class ProxyConfig:
    """What a user can choose: a fixed proxy with a bypass list, a PAC URL,
    automatic detection (any combination), or a direct connection."""

    proxy: str = ""          # "host:port" or "http=host:port;https=host:port"
    bypass: str = ""         # "<local>;*.example"
    pac_url: str = ""
    auto_detect: bool = False

    @classmethod
    def direct(cls) -> "ProxyConfig":
        return cls()

    @property
    def flags(self) -> int:
        flags = FLAG_DIRECT
        if self.proxy:
            flags |= FLAG_PROXY
        if self.pac_url:
            flags |= FLAG_AUTO_CONFIG_URL
        if self.auto_detect:
            flags |= FLAG_AUTO_DETECT
        return flags


def _counted(text: str) -> bytes:
    data = text.encode("ascii")
    return struct.pack("<I", len(data)) + data


def connection_settings_blob(config: ProxyConfig, counter: int = 1) -> bytes:
    """DWORD 0x46, DWORD change counter, DWORD flags, then the proxy, the bypass
    list and the PAC URL, each as a DWORD length and ANSI text, then padding."""
    return (struct.pack("<III", 0x46, counter, config.flags) + _counted(config.proxy) + _counted(config.bypass)
            + _counted(config.pac_url) + bytes(32))
