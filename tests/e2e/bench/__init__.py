"""Test bench for the end-to-end tests: a Wine prefix and display, certificates,
HTTPS servers (nginx and a scriptable one of our own), the UI automation helper
and screenshots. Standard library only; the fixtures live in ../conftest.py."""
