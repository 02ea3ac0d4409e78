"""The installer window, seen from outside as a user would: the real
Kelvora_Installer.exe and the test installer (the same window and start-up
with a scripted coordinator) under Wine, driven through the UI automation helper."""

from __future__ import annotations

import re

import pytest

from bench import scenarios
from bench.uia import IDCANCEL, IDOK, SW_SHOWMAXIMIZED, label_text, progress_bar
from bench.waiting import wait_until
from bench.wine import windows_path

IMAGE = "Kelvora_Installer.exe"
TEST_IMAGE = "Kelvora_Test_Installer.exe"
WINDOW_TITLE = "Kelvora Installation"
CONFIRMATION_TITLE = "Bestätigen"
CONFIRMATION_TEXT = "Möchten Sie das Installationsfile laden und die Installation von Kelvora starten?"
INFORMATION_TITLE = "Informationen"
INFORMATION_TEXT = "Download abgebrochen, der Installer wird beendet!"
PLAIN_TITLE = "Kelvora_test_installer"  # the test installer's application title
PLAIN_TEXT = "Download fehlgeschlagen"
RELEASE_EVENT = "KelvoraTestRelease"

START_TIMEOUT = 30  # a cold Wine start of a GUI program can take a few seconds on a busy machine
END_TIMEOUT = 20


def assert_centred(rect: dict, area: dict) -> None:
    """Centred as the program computes it, with one pixel of slack for the frame's rounding."""
    expected_left = area["left"] + (area["width"] - rect["width"]) // 2
    expected_top = area["top"] + (area["height"] - rect["height"]) // 2
    assert abs(rect["left"] - expected_left) <= 1 and abs(rect["top"] - expected_top) <= 1, \
        f"{rect} is not centred in {area} (expected left {expected_left}, top {expected_top})"


def assert_confirmation(dialog: dict) -> None:
    assert dialog["kind"] == "messagebox"
    assert dialog["title"] == CONFIRMATION_TITLE
    assert dialog["text"] == CONFIRMATION_TEXT
    assert dialog["icon"] == "question"
    buttons = {button["id"]: button for button in dialog["buttons"]}
    assert sorted(buttons) == [IDOK, IDCANCEL], dialog["buttons"]
    assert all(button["text"] and button["enabled"] for button in buttons.values())
    assert buttons[IDOK]["default"] and not buttons[IDCANCEL]["default"]


def consent(uia, image: str) -> dict:
    """Answers the start confirmation with OK; returns the installer window once it is up."""
    confirmation = uia.wait_dialog(image=image, title=CONFIRMATION_TITLE, timeout=START_TIMEOUT)
    uia.press(IDOK, hwnd=confirmation["hwnd"])
    return uia.wait_window(image=image, title=WINDOW_TITLE, timeout=START_TIMEOUT)


def current(uia, window: dict) -> dict:
    found = uia.windows(hwnd=window["hwnd"])
    assert found, f"window {window['title']!r} has gone"
    return found[0]


def step_number(window: dict) -> int:
    match = re.fullmatch(r"Schritt (\d+)", label_text(window))
    return int(match.group(1)) if match else 0


def wait_for_step_beyond(uia, window: dict, beyond: int, timeout: float = 15) -> int:
    """Reads the label until the test coordinator's step counter has passed `beyond`."""
    numbers = []

    def passed() -> bool:
        numbers.append(step_number(current(uia, window)))
        return numbers[-1] > beyond

    assert wait_until(passed, timeout, interval=0.1), f"label stuck at step {numbers[-1]}, expected more than {beyond}"
    return numbers[-1]


# ----- refusal --------------------------------------------------------------------------------

REFUSALS = {
    "cancel": lambda uia, dialog: uia.press(IDCANCEL, hwnd=dialog["hwnd"]),
    "esc": lambda uia, dialog: uia.key("esc", hwnd=dialog["hwnd"]),
    "close_box": lambda uia, dialog: uia.close_box(method="click", hwnd=dialog["hwnd"]),
}


@pytest.mark.parametrize("answer", list(REFUSALS))
def test_refusal_says_so_and_ends_without_network_or_file(answer, uia, programs, installer_exe, vendor_server,
                                                          temp_folder, screenshot):
    vendor = vendor_server(scenarios.serve_bytes(b"MZ not to be fetched"))
    program = programs(installer_exe)

    confirmation = uia.wait_dialog(image=IMAGE, title=CONFIRMATION_TITLE, timeout=START_TIMEOUT)
    assert_confirmation(confirmation)
    others = [w for w in uia.windows(image=IMAGE, visible=True) if w["hwnd"] != confirmation["hwnd"]]
    assert others == [], "nothing else of the program may be on the screen while it asks"
    screenshot("confirmation")

    REFUSALS[answer](uia, confirmation)
    information = uia.wait_dialog(image=IMAGE, title=INFORMATION_TITLE, timeout=10)
    assert information["kind"] == "messagebox"
    assert information["text"] == INFORMATION_TEXT
    assert information["icon"] == "information"
    assert [(b["id"], b["default"]) for b in information["buttons"]] == [(IDOK, True)]
    screenshot("information")

    uia.press(IDOK, hwnd=information["hwnd"])
    program.wait(timeout=END_TIMEOUT)  # ends by itself

    assert vendor.connections == 0 and vendor.requests == [], "a refused start must not touch the network"
    assert sorted(p.name for p in temp_folder.iterdir()) == [], "a refused start must not create a file"


# ----- consent ----------------------------------------------------------------------------------

@pytest.mark.parametrize("dpi, client_size", [(96, (640, 228)), (144, (960, 342))])
def test_consent_shows_the_window_and_starts_the_download(dpi, client_size, uia, settings, programs, installer_exe,
                                                          vendor_server, vendor_address, temp_folder, screenshot):
    settings.dpi(dpi)
    assert uia.screen()["dpi"] == dpi
    # The size request stays unanswered, so the window stays in its first state.
    vendor = vendor_server(scenarios.never_answer())
    programs(installer_exe)

    window = consent(uia, IMAGE)
    first = vendor.wait_for_requests(1, timeout=START_TIMEOUT)
    assert [(r.method, r.path) for r in first] == [("HEAD", vendor_address[2])], "the download starts on consent"

    window = current(uia, window)
    assert window["visible"] and window["enabled"] and not window["maximized"] and not window["minimized"]
    assert (window["client"]["width"], window["client"]["height"]) == client_size
    assert_centred(window["rect"], window["work_area"])
    bar = progress_bar(window)
    assert (bar["progress"]["min"], bar["progress"]["max"], bar["progress"]["pos"]) == (0, 100, 0)
    assert label_text(window) == "Label1"
    screenshot("window")


def test_started_maximised_shows_the_window_maximised(uia, installer_exe, vendor_server, temp_folder, screenshot):
    vendor_server(scenarios.never_answer())
    launched = uia.launch(windows_path(installer_exe), show=SW_SHOWMAXIMIZED)
    try:
        window = consent(uia, IMAGE)
        window = current(uia, window)
        assert window["maximized"]
        assert window["visible"] and not window["minimized"]
        screenshot("maximised")
    finally:
        uia.terminate(launched.pid)
        launched.kill()


# ----- the close protocol -------------------------------------------------------------------------

CLOSE_REQUESTS = {
    "wm_close": lambda uia, window: uia.close(hwnd=window["hwnd"]),
    "close_box": lambda uia, window: uia.close_box(method="click", hwnd=window["hwnd"]),
}


@pytest.mark.parametrize("how", list(CLOSE_REQUESTS))
def test_close_waits_for_the_coordinator_and_keeps_running_steps(how, uia, programs, test_installer_exe,
                                                                  screenshot):
    program = programs(test_installer_exe, ["hold"])
    window = consent(uia, TEST_IMAGE)
    before = wait_for_step_beyond(uia, window, 0)

    CLOSE_REQUESTS[how](uia, window)
    # The window stays up and answering, and steps handed over meanwhile still run.
    during = wait_for_step_beyond(uia, window, before + 2)
    assert program.running()
    assert current(uia, window)["visible"]
    screenshot("closing")

    CLOSE_REQUESTS[how](uia, window)  # a second request while the first waits: ignored
    wait_for_step_beyond(uia, window, during + 2)
    assert program.running()

    uia.set_event(RELEASE_EVENT)
    assert program.wait(timeout=END_TIMEOUT) == 0


# ----- the plain message ---------------------------------------------------------------------------

DISMISSALS = {
    "ok": lambda uia, dialog: uia.press(1, hwnd=dialog["hwnd"]),
    "esc": lambda uia, dialog: uia.key("esc", hwnd=dialog["hwnd"]),
}


@pytest.mark.parametrize("mode, dismissal", [("plain-message", "ok"), ("plain-message", "esc"),
                                             ("fail-thread", "ok")])
def test_plain_message_is_modal_and_centred(mode, dismissal, uia, programs, test_installer_exe, screenshot):
    program = programs(test_installer_exe, [mode])
    confirmation = uia.wait_dialog(image=TEST_IMAGE, title=CONFIRMATION_TITLE, timeout=START_TIMEOUT)
    uia.press(IDOK, hwnd=confirmation["hwnd"])

    dialog = uia.wait_dialog(image=TEST_IMAGE, title=PLAIN_TITLE, timeout=START_TIMEOUT)
    assert dialog["kind"] == "taskdialog"
    assert dialog["text"] == PLAIN_TEXT
    assert dialog["icon"] == "none"
    assert [(b["id"], b["text"], b["default"]) for b in dialog["buttons"]] == [(1, "OK", True)]
    assert_centred(dialog["rect"], dialog["work_area"])

    shown = uia.windows(image=TEST_IMAGE, title=WINDOW_TITLE, visible=True)
    if mode == "plain-message":
        assert shown, "the installer window is up behind the message"
    assert all(not w["enabled"] for w in shown), "no other window of the program takes input meanwhile"
    screenshot("plain-message")

    watcher = uia.watch(image=TEST_IMAGE, title=WINDOW_TITLE, timeout=END_TIMEOUT) if shown else None
    DISMISSALS[dismissal](uia, dialog)
    program.wait(timeout=END_TIMEOUT)  # the program ends after the message

    if watcher is not None:
        states = watcher.states()
        assert states[0]["enabled"] is False, states
        assert any(s["exists"] and s["enabled"] for s in states[1:]), \
            f"the installer window was not enabled again after the message: {states}"
