#!/usr/bin/env python3
"""The console itself on a pseudo-terminal.

Runs `zot` with no script (argv[1]) on a fresh pseudo-terminal with HOME in a
temporary folder, types lines and keys, and checks what the terminal shows,
the settings file the console saves, and that the terminal's settings
(`stty -g`) are the same after the console ends. The screen emulator and the
session plumbing are the line editor test's (editor_pty.py).
"""

import os
import shutil
import struct
import sys
import tempfile
import threading
import unittest
import fcntl
import pty
import termios

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import editor_pty  # noqa: E402
from editor_pty import CTRL, ENTER, ESC, TAB, UP  # noqa: E402

ZOT = None


class Console(editor_pty.Session):
    """`zot` on a fresh pseudo-terminal, started from a shell that records
    the terminal's settings before and after it."""

    def __init__(self, home, cwd, columns=60, rows=20):
        self.screen = editor_pty.Screen(columns, rows)
        self.transcript = ""
        self.seen = 0
        self.edit_seen = 0
        self.cond = threading.Condition()
        self.closed = False
        pid, fd = pty.fork()
        if pid == 0:
            os.chdir(cwd)
            os.environ["HOME"] = home
            fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", rows, columns, 0, 0))
            # The shell outlives a Ctrl+C typed while the console runs.
            script = 'trap : INT; stty -g; echo started; "$0"; echo "status=$?"; stty -g'
            os.execvp("sh", ["sh", "-c", script, ZOT])
        self.pid, self.fd = pid, fd
        self.thread = threading.Thread(target=self.read_loop, daemon=True)
        self.thread.start()
        self.expect(r"started\r?\n")
        self.settings_before = self.transcript.split("\n")[0].strip()

    def line(self, keys):
        """Types keys once the next edit has begun."""
        self.start(keys)

    def shows(self, text):
        """Waits until a screen row holds the text (trailing blanks aside)."""
        self.wait(lambda: text in self.screen.lines(), "a row %r" % text)

    def last_rows(self, n):
        with self.cond:
            lines = [l for l in self.screen.lines() if l]
        return lines[-n:]


class ConsoleTest(unittest.TestCase):
    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="zot-console-home-")
        self.cwd = tempfile.mkdtemp(prefix="zot-console-cwd-")
        self.addCleanup(shutil.rmtree, self.home, True)
        self.addCleanup(shutil.rmtree, self.cwd, True)

    def console(self, columns=60, rows=20):
        c = Console(self.home, self.cwd, columns, rows)
        self.addCleanup(c.close)
        return c

    def assert_ended(self, c, status=0):
        code, after = c.finish()
        self.assertEqual(code, status)
        self.assertEqual(after, c.settings_before, "stty settings differ after the console")

    def settings(self):
        path = os.path.join(self.home, ".zot", "Zot-Console", "console-cfg.zot")
        with open(path, encoding="utf-8") as f:
            return f.read()

    def test_banner_results_and_continuation_prompts(self):
        c = self.console()
        c.expect(r"Type HELP for starting information")
        self.assertEqual(c.screen.title, "Zot Console")
        c.line("1 + 2" + ENTER)
        c.shows(">> 1 + 2")
        c.shows("== 3")
        c.line("(10 +" + ENTER)
        c.line("5)" + ENTER)
        c.shows("(    5)")
        c.shows("== 15")
        c.line("halt" + ENTER)
        c.shows("(halted)")
        c.line("[1 2" + ENTER)
        c.line("oops" + ESC)
        c.shows("(escape)")
        c.line("q" + ENTER)
        self.assert_ended(c)

    def test_ctrl_c_halts_an_evaluation(self):
        c = self.console()
        # A loop of the user's code, and a wait inside a native.
        c.line('print "looping" forever []' + ENTER)
        c.shows("looping")
        # The terminal echoes the key as "^C" before the console's answer.
        c.send(CTRL["c"])
        c.expect(r"\(halted\)")
        # A loop of arithmetic alone.
        c.line('n: 0 print "counting" forever [n: n + 1]' + ENTER)
        c.shows("counting")
        c.send(CTRL["c"])
        c.expect(r"\(halted\)")
        c.line('print "waiting" wait 1000' + ENTER)
        c.shows("waiting")
        c.send(CTRL["c"])
        c.expect(r"\(halted\)")
        # The console goes on, and Ctrl+C at the prompt still ends it.
        c.line("1 + 1" + ENTER)
        c.shows("== 2")
        c.line(CTRL["c"])
        self.assert_ended(c)

    def test_result_cut_to_the_width(self):
        c = self.console(columns=40)
        c.line('append/dup copy "" "x" 60' + ENTER)
        # The width less 3, less the prompt's length and one, then "...".
        c.shows("== {" + "x" * 32 + "...")
        c.line(CTRL["d"])
        self.assert_ended(c)

    def test_completion_of_a_word_and_a_file(self):
        open(os.path.join(self.cwd, "zz-data.txt"), "w").close()
        c = self.console()
        c.line("appe" + TAB)
        c.wait(lambda: ">> append" in c.screen.lines(), "the word completed")
        c.send(' [] "x"' + ENTER)
        c.shows('== ["x"]')
        c.line("%zz-d" + TAB)
        c.wait(lambda: ">> %zz-data.txt" in c.screen.lines(), "the file completed")
        c.send(ENTER)
        c.shows("== %zz-data.txt")
        c.line(CTRL["c"])
        self.assert_ended(c)


    def test_history_saved_and_loaded(self):
        c = self.console()
        c.line("6 * 7" + ENTER)
        c.shows("== 42")
        c.line("q" + ENTER)
        self.assert_ended(c)
        saved = self.settings()
        self.assertIn('Purpose: "Zot Console Configuration File"', saved)
        self.assertIn("buffer-lines: 10000", saved)
        self.assertRegex(saved, r'history: \[\s*"q"\s+"6 \* 7"\s*\]')
        # The next run walks the history of the last one.
        c = self.console()
        c.line(UP + UP + ENTER)
        c.shows(">> 6 * 7")
        c.shows("== 42")
        c.line(CTRL["d"])
        self.assert_ended(c)


if __name__ == "__main__":
    ZOT = os.path.abspath(sys.argv[1])
    unittest.main(argv=sys.argv[:1], verbosity=2)
