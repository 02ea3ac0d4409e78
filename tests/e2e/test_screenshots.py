"""What the screenshots and the README's pictures rest on: the bench's Wine
prefix has Wine's Marlett font, so caption buttons show their symbols rather
than the letters "0 1 r" of a fallback font, and a screenshot is cropped to the
window the UI automation helper reports."""

from __future__ import annotations

import json

import pytest

from bench import paths, scenarios
from bench.screenshots import MARGIN, image_size
from bench.wine import PREFIX_FONTS, link_wine_fonts, prefix_fonts_folder

IMAGE = "Kelvora_Installer.exe"
WINDOW_TITLE = "Kelvora Installation"
CONFIRMATION_TITLE = "Bestätigen"
START_TIMEOUT = 30
SYMBOL_CHARSET = 2
SLACK = 2  # pixels: the crop is the helper's rectangle plus the margin on each side


def selected_face(wine, face: str, charset: int) -> dict:
    """What GDI really selects in the bench's prefix for a font made with this face and character set."""
    out = wine.run([str(paths.font_face_exe()), face, str(charset)]).stdout
    return json.loads(out.strip().splitlines()[-1])


@pytest.fixture
def without_prefix_fonts(wine):
    """The prefix without the fonts the bench links into it, for one test; linked again afterwards."""
    folder = prefix_fonts_folder(wine.prefix)
    for name in PREFIX_FONTS:
        (folder / name).unlink(missing_ok=True)
    yield
    link_wine_fonts(wine.prefix)


def test_marlett_with_the_symbol_character_set_is_really_marlett(wine):
    selected = selected_face(wine, "Marlett", SYMBOL_CHARSET)
    assert (selected["face"], selected["selected_charset"]) == ("Marlett", SYMBOL_CHARSET), (
        f"GDI substituted {selected['face']!r} for Marlett: caption buttons would show letters; "
        "install fonts-wine (scripts/install-deps.sh)")


def test_without_the_linked_font_gdi_substitutes_another_face(wine, without_prefix_fonts):
    # Wine does not find the package's fonts where they are installed: the link is what makes Marlett there.
    assert selected_face(wine, "Marlett", SYMBOL_CHARSET)["face"] != "Marlett"


def confirmation(uia):
    return uia.wait_dialog(image=IMAGE, title=CONFIRMATION_TITLE, timeout=START_TIMEOUT)


def installer_window(uia):
    dialog = confirmation(uia)
    uia.press(1, hwnd=dialog["hwnd"])
    return uia.wait_window(image=IMAGE, title=WINDOW_TITLE, timeout=START_TIMEOUT)


@pytest.mark.parametrize("shown", [confirmation, installer_window], ids=["confirmation", "window"])
@pytest.mark.parametrize("cropped_to", ["the window given", "the visible windows"])
def test_a_screenshot_is_the_windows_rectangle_with_a_small_margin(shown, cropped_to, uia, programs, installer_exe,
                                                                    vendor_server, temp_folder, screenshot):
    vendor_server(scenarios.never_answer())  # the window stays in its first state
    programs(installer_exe)
    window = shown(uia)
    path = screenshot("cropped", window if cropped_to == "the window given" else None)
    rect = window["rect"]
    width, height = image_size(path)
    expected = (rect["width"] + 2 * MARGIN, rect["height"] + 2 * MARGIN)
    assert abs(width - expected[0]) <= SLACK and abs(height - expected[1]) <= SLACK, \
        f"{path} is {width}x{height}; the window is {rect['width']}x{rect['height']} with a margin of {MARGIN}"
