import os
import pty
import re
import subprocess
import sys

import pytest

from tavik import ArrayField, Field

ESC = "\x1b"
SGR = re.compile(r"\x1b\[[0-9;]*m")
COLOR_VARS = (b"CLICOLOR", b"CLICOLOR_FORCE", b"NO_COLOR")
EMPTY_PRETTY = "\n" + ("__" * 6 + "\n") * 14 + "\n"
WHITE_SPAN = '<span style="font-family: monospace ;background-color: white">__</span>'

by_class = pytest.mark.parametrize("cls", [Field, ArrayField], ids=lambda c: c.__name__)


def span(color, text):
    return f'<span style="font-family: monospace ;background-color: {color}">{text}</span>'


@by_class
def test_empty_field_renders_plain_whatever_the_colour_decision(cls):
    assert cls().get_pretty_string() == EMPTY_PRETTY
    assert cls().get_html_string() == "<br>" + (WHITE_SPAN * 6 + "<br>") * 14 + "<br>"


@by_class
def test_rendering_shows_only_the_playable_area(cls):
    f = cls.from_str_array(["OOOOOOO"]).set(0, 0, 4).set(5, 13, 7)
    lines = SGR.sub("", f.get_pretty_string()).split("\n")
    assert lines[0] == "" and lines[-2:] == ["", ""] and len(lines) == 17
    assert lines[1] == "R_" + "__" * 5
    assert lines[14] == "O_" * 5 + "G_"
    html = f.get_html_string()
    assert html.startswith("<br>" + span("red", "_R") + WHITE_SPAN * 5 + "<br>")
    assert html.endswith(span("gray", "_O") * 5 + span("green", "_G") + "<br><br>")
    assert html.count("<br>") == 16


def test_purple_renders_only_in_the_array_field():
    assert SGR.sub("", ArrayField().set(0, 0, 8).get_pretty_string()).startswith("\nP_")
    assert ArrayField().set(0, 0, 8).get_html_string().startswith("<br>" + span("purple", "_P"))
    assert Field().set(0, 0, 8).get_pretty_string() == EMPTY_PRETTY


# The colour decision is taken once per process, so each case runs in a fresh interpreter.
CHILD = r"""
import os, sys
from tavik import ArrayField, Field
first = Field().get_pretty_string()  # a plain rendering already fixes the decision
if len(sys.argv) > 1:
    os.environ["CLICOLOR_FORCE"] = "1"
    os.environ.pop("NO_COLOR", None)
out = ArrayField().set(0, 13, 4).set(1, 13, 8).set(2, 13, 2).set(3, 13, 1).get_pretty_string()
sys.stderr.write(repr(out.split("\n")[14]))
"""
COLORED = (ESC + "[1;41mR_" + ESC + "[0m" + ESC + "[1;45mP_" + ESC + "[0m" + ESC + "[1;40mW_" + ESC + "[0m"
           + ESC + "[1;47mO_" + ESC + "[0m" + "____")
PLAIN = "R_P_W_O_____"


def render_in_child(env, terminal, *args):
    base = {k: v for k, v in os.environb.items() if k not in COLOR_VARS}
    base.update(env)
    if terminal:
        master, slave = pty.openpty()
        try:
            proc = subprocess.run([sys.executable, "-c", CHILD, *args], env=base, stdout=slave,
                                  stderr=subprocess.PIPE, timeout=60)
        finally:
            os.close(slave)
            os.close(master)
    else:
        proc = subprocess.run([sys.executable, "-c", CHILD, *args], env=base, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=60)
    assert proc.returncode == 0, proc.stderr.decode()
    return eval(proc.stderr.decode())


BAD_UTF8 = b"\xff\xfe"


@pytest.mark.parametrize(
    "env, terminal, colored",
    [
        ({}, False, False),
        ({}, True, True),
        ({b"CLICOLOR_FORCE": b"1", b"NO_COLOR": b""}, False, True),
        ({b"CLICOLOR_FORCE": b"yes", b"NO_COLOR": b"1", b"CLICOLOR": b"0"}, False, True),
        ({b"CLICOLOR_FORCE": b""}, False, True),  # set and not "0"
        ({b"CLICOLOR_FORCE": b"0", b"NO_COLOR": b""}, True, False),
        ({b"CLICOLOR_FORCE": b"0"}, True, True),
        ({b"NO_COLOR": b""}, True, False),
        ({b"CLICOLOR": b"0"}, True, False),
        ({b"CLICOLOR": b"1"}, True, True),
        ({b"CLICOLOR": b"1"}, False, False),
        ({b"CLICOLOR": b"00"}, True, True),
        # A value that is not UTF-8 counts as unset.
        ({b"CLICOLOR_FORCE": BAD_UTF8}, False, False),
        ({b"NO_COLOR": BAD_UTF8}, True, True),
        ({b"CLICOLOR": BAD_UTF8}, True, True),
        ({b"CLICOLOR_FORCE": BAD_UTF8, b"NO_COLOR": b"1"}, True, False),
        # Overlong forms, surrogates and values above U+10FFFF are not UTF-8 either.
        ({b"CLICOLOR_FORCE": b"\xc0\x80"}, False, False),
        ({b"CLICOLOR_FORCE": b"\xe0\x80\xb1"}, False, False),
        ({b"CLICOLOR_FORCE": b"\xf0\x8f\xbf\xbf"}, False, False),
        ({b"CLICOLOR_FORCE": b"\xed\xa0\x80"}, False, False),
        ({b"CLICOLOR_FORCE": b"\xf4\x90\x80\x80"}, False, False),
        ({b"CLICOLOR_FORCE": b"ok\xe2\x82"}, False, False),  # cut short
        # The edges of the valid ranges do count as set.
        ({b"CLICOLOR_FORCE": b"\xc2\x80\xe0\xa0\x80\xed\x9f\xbf\xee\x80\x80\xf4\x8f\xbf\xbf"}, False, True),
    ],
)
def test_colour_decision(env, terminal, colored):
    assert render_in_child(env, terminal) == (COLORED if colored else PLAIN)


@pytest.mark.parametrize("terminal", [False, True])
def test_colour_decision_is_kept_after_the_first_rendering(terminal):
    assert render_in_child({b"NO_COLOR": b"1"}, terminal, "change-env") == PLAIN
