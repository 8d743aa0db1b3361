#!/usr/bin/env python3
"""The line editor on a pseudo-terminal.

The probe program (argv[1]) runs a session script (argv[2]) that reads lines
through the console's routines and prints each as `got: "..." entered: B
tty: MODE`. Each test starts it on a fresh pseudo-terminal, types keys, and
checks the lines it got and what a small terminal emulator shows: text,
wrapping, the cursor. The emulator also answers the editor's cursor
position queries. The terminal's settings (`stty -g`) are taken before the
probe starts and after it ends, and must be equal.

Waits have a deadline so that a broken editor fails instead of hanging;
nothing is timed.
"""

import codecs
import fcntl
import os
import pty
import re
import signal
import struct
import subprocess
import sys
import termios
import threading
import unicodedata
import unittest

PROBE = None
SESSION = None
DEADLINE = 60.0

# Keys as terminals send them.
UP, DOWN, RIGHT, LEFT = "\x1b[A", "\x1b[B", "\x1b[C", "\x1b[D"
HOME, END, DELETE = "\x1b[H", "\x1b[F", "\x1b[3~"
ESC, TAB, ENTER, BACKSPACE = "\x1b", "\t", "\r", "\x7f"
CTRL = {c: chr(ord(c) - 96) for c in "abcdefghijklmnopqrstuvwxyz"}


def cells(ch):
    if unicodedata.combining(ch) or unicodedata.category(ch) in ("Mn", "Me"):
        return 0
    return 2 if unicodedata.east_asian_width(ch) in ("W", "F") else 1


class Screen:
    """A VT-style screen: autowrap with the cursor held in the last column
    until the next character, wide characters that do not fit in the last
    column moved to the next row, and the sequences the editor writes."""

    def __init__(self, columns, rows):
        self.columns, self.rows = columns, rows
        self.grid = [[" "] * columns for _ in range(rows)]
        self.row = self.col = 0
        self.pending = False  # the last column was written
        self.title = None
        self.replies = []
        self.state = "text"
        self.seq = ""

    def resize(self, columns, rows):
        grid = [[" "] * columns for _ in range(rows)]
        for r in range(min(rows, self.rows)):
            for c in range(min(columns, self.columns)):
                grid[r][c] = self.grid[r][c]
        self.grid, self.columns, self.rows = grid, columns, rows
        self.row = min(self.row, rows - 1)
        self.col = min(self.col, columns - 1)
        self.pending = False

    def line_feed(self):
        if self.row == self.rows - 1:
            self.grid.pop(0)
            self.grid.append([" "] * self.columns)
        else:
            self.row += 1

    def put(self, ch):
        w = cells(ch)
        if w == 0:
            return
        if self.pending or (w == 2 and self.col == self.columns - 1):
            self.col = 0
            self.line_feed()
            self.pending = False
        self.grid[self.row][self.col] = ch
        if w == 2:
            self.grid[self.row][self.col + 1] = ""
        self.col += w
        if self.col >= self.columns:
            self.col = self.columns - 1
            self.pending = True

    def csi(self, params, final):
        nums = [int(p) if p.isdigit() else 0 for p in params.lstrip("?").split(";")]
        n = nums[0] or 1
        self.pending = False
        if final == "A":
            self.row = max(0, self.row - n)
        elif final == "B":
            self.row = min(self.rows - 1, self.row + n)
        elif final == "C":
            self.col = min(self.columns - 1, self.col + n)
        elif final == "D":
            self.col = max(0, self.col - n)
        elif final == "G":
            self.col = min(self.columns - 1, n - 1)
        elif final == "J":
            if nums[0] == 0:
                self.grid[self.row][self.col:] = [" "] * (self.columns - self.col)
                for r in range(self.row + 1, self.rows):
                    self.grid[r] = [" "] * self.columns
        elif final == "K":
            self.grid[self.row][self.col:] = [" "] * (self.columns - self.col)
        elif final == "n" and nums[0] == 6:
            self.replies.append("\x1b[%d;%dR" % (self.row + 1, self.col + 1))

    def feed(self, text):
        for ch in text:
            if self.state == "text":
                if ch == "\x1b":
                    self.state, self.seq = "esc", ""
                elif ch == "\r":
                    self.col, self.pending = 0, False
                elif ch == "\n":
                    self.line_feed()
                    self.pending = False
                elif ch == "\x07":
                    pass
                elif ord(ch) >= 32:
                    self.put(ch)
            elif self.state == "esc":
                self.state = {"[": "csi", "]": "osc"}.get(ch, "text")
            elif self.state == "csi":
                if "\x40" <= ch <= "\x7e":
                    self.csi(self.seq, ch)
                    self.state = "text"
                else:
                    self.seq += ch
            elif self.state == "osc":
                if ch == "\x07":
                    if self.seq.startswith("0;"):
                        self.title = self.seq[2:]
                    self.state = "text"
                else:
                    self.seq += ch

    def line(self, r):
        return "".join(self.grid[r]).rstrip()

    def lines(self):
        return [self.line(r) for r in range(self.rows)]


def unmold(text):
    """The text of a molded string (the escapes the session's lines use)."""
    assert text.startswith('"') and text.endswith('"'), text
    body, out, i = text[1:-1], [], 0
    escapes = {"-": "\t", "[": "\x1b", "M": "\r", "/": "\n", "^": "^", '"': '"'}
    while i < len(body):
        if body[i] == "^" and i + 1 < len(body):
            out.append(escapes.get(body[i + 1], body[i + 1]))
            i += 2
        else:
            out.append(body[i])
            i += 1
    return "".join(out)


GOT = re.compile(r"got: (.*) entered: (\w+) tty: (\w+)\r?\n")


class Session:
    """The probe on a fresh pseudo-terminal, started from a shell that
    records the terminal's settings before and after it."""

    def __init__(self, columns=40, rows=12):
        self.screen = Screen(columns, rows)
        self.transcript = ""
        self.seen = 0  # transcript offset after the last line got
        self.edit_seen = 0  # transcript offset after the last edit's start
        self.cond = threading.Condition()
        self.closed = False
        pid, fd = pty.fork()
        if pid == 0:
            fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", rows, columns, 0, 0))
            script = 'stty -g; "$0" "$1"; echo "status=$?"; stty -g'
            os.execvp("sh", ["sh", "-c", script, PROBE, SESSION])
        self.pid, self.fd = pid, fd
        self.thread = threading.Thread(target=self.read_loop, daemon=True)
        self.thread.start()
        m = self.expect(r"pid: (\d+)\r?\n")
        self.probe_pid = int(m.group(1))
        self.settings_before = self.transcript.split("\n")[0].strip()

    def read_loop(self):
        decoder = codecs.getincrementaldecoder("utf-8")("replace")
        while True:
            try:
                data = os.read(self.fd, 4096)
            except OSError:
                data = b""
            with self.cond:
                if not data:
                    self.closed = True
                    self.cond.notify_all()
                    return
                text = decoder.decode(data)
                self.transcript += text
                self.screen.feed(text)
                replies, self.screen.replies = self.screen.replies, []
                for r in replies:
                    os.write(self.fd, r.encode())
                self.cond.notify_all()

    def send(self, keys):
        os.write(self.fd, keys.encode() if isinstance(keys, str) else keys)

    def start(self, keys):
        """Types keys once the next edit has begun: it asks where its prompt
        starts after the terminal is in raw mode. (Keys typed before would
        be echoed by the terminal, as they are for anyone typing ahead.)"""
        found = []

        def test():
            i = self.transcript.find("\x1b[6n", self.edit_seen)
            if i >= 0:
                found.append(i)
            return i >= 0

        self.wait(test, "the next edit")
        self.edit_seen = found[0] + 4
        self.send(keys)

    def wait(self, test, what):
        with self.cond:
            if not self.cond.wait_for(lambda: test() or self.closed, DEADLINE) or not test():
                raise AssertionError("waited for %s; screen:\n%s\ntranscript tail:\n%r"
                                     % (what, "\n".join(self.screen.lines()), self.transcript[-600:]))

    def expect(self, pattern):
        rx = re.compile(pattern)
        found = []

        def test():
            m = rx.search(self.transcript, self.seen)
            if m:
                found.append(m)
            return bool(m)

        self.wait(test, repr(pattern))
        self.seen = found[0].end()
        return found[0]

    def got(self, keys=None, begun=False):
        """Types keys (at the start of the next edit, or in the one begun);
        returns the next line the probe got, as text."""
        if keys is not None:
            self.send(keys) if begun else self.start(keys)
        m = self.expect(GOT.pattern)
        assert m.group(3) == "cooked", "the terminal stays raw after a line: " + m.group(0)
        self.entered = m.group(2) == "true"
        return unmold(m.group(1))

    def prompt_row(self):
        """The screen row of the last line got: the one above its report."""
        with self.cond:
            lines = self.screen.lines()
        for r in range(len(lines) - 1, -1, -1):
            if lines[r].startswith("got:"):
                return lines[r - 1]
        raise AssertionError("no got: line on the screen")

    def finish(self):
        """Waits for the probe and the shell to end; the settings after."""
        m = self.expect(r"status=(\d+)\r?\n(\S+)\r?\n")
        os.waitpid(self.pid, 0)
        return int(m.group(1)), m.group(2)

    def close(self):
        # The shell and the probe (one process group) end first, so that the
        # reader sees the end and stops before its descriptor is closed (a
        # reader left blocked would read the next session's terminal once
        # the number is used again).
        try:
            os.killpg(self.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        try:
            os.waitpid(self.pid, 0)
        except ChildProcessError:
            pass
        self.thread.join(DEADLINE)
        os.close(self.fd)


class EditorTest(unittest.TestCase):
    def session(self, columns=40, rows=12):
        s = Session(columns, rows)
        self.addCleanup(s.close)
        return s

    def assert_restored(self, s, status=0):
        code, after = s.finish()
        self.assertEqual(code, status)
        self.assertEqual(after, s.settings_before, "stty settings differ after the probe")

    def test_typing_title_and_size(self):
        s = self.session(columns=40, rows=12)
        s.expect(r"size: 40x12\r?\n")
        self.assertEqual(s.screen.title, "Zot Console")
        self.assertEqual(s.got("hello wörld" + ENTER), "hello wörld")
        self.assertEqual(s.prompt_row(), ">> hello wörld")
        # A title never carries control characters out of its sequence.
        self.assertEqual(s.got("title" + ENTER), "title")
        s.wait(lambda: s.screen.title == "Evil]0;x", "the title without its control characters")
        self.assertEqual(s.got(CTRL["d"]), "q")
        self.assert_restored(s)

    def test_editing_keys(self):
        lefts = [LEFT, "\x1bOD", CTRL["b"], "\x1b[1;5D"]
        rights = [RIGHT, "\x1bOC", CTRL["f"]]
        homes = [HOME, "\x1bOH", "\x1b[1~", "\x1b[7~", CTRL["a"]]
        ends = [END, "\x1bOF", "\x1b[4~", "\x1b[8~", CTRL["e"]]
        cases = []
        cases += [("abc" + k + k + "X", "aXbc") for k in lefts]
        cases += [("abc" + HOME + k + "X", "aXbc") for k in rights]
        cases += [("abc" + k + "X", "Xabc") for k in homes]
        cases += [("abc" + HOME + k + "X", "abcX") for k in ends]
        cases += [
            ("abc" + RIGHT + "X", "abcX"),              # Right at the end does nothing
            ("abc" + HOME + LEFT + "X", "Xabc"),        # nor Left at the start
            ("abc" + BACKSPACE, "ab"),
            ("abc" + "\x08" + "\x08", "a"),
            ("abc" + LEFT + BACKSPACE, "ac"),
            ("abc" + HOME + BACKSPACE, "abc"),
            ("abc" + HOME + DELETE, "bc"),
            ("abc" + DELETE, "abc"),
            ("abcdef" + LEFT * 3 + CTRL["k"], "abc"),
            ("abc" + HOME + CTRL["d"], "bc"),           # Ctrl+D inside the line deletes
            ("ab" + CTRL["d"] + "c", "abc"),            # and at its end does nothing
            ("a\x07\x00\x1ab", "ab"),                   # other control keys are ignored
            ("a\x1b[5~\x1b[6~\x1b[2~b", "ab"),          # Page Up, Page Down, Insert too
            ("a\x1bxb", "ab"),                          # Alt with a key
            ("a\x1b[99Zb", "ab"),                       # a sequence of no meaning
            ("abc" + LEFT + ESC, "abc\x1b"),            # Esc ends the line, marked
            ("日本" + LEFT + "x", "日x本"),
            ("a\tb", "a\tb"),                           # no completion: Tab is typed
        ]
        s = self.session()
        for keys, want in cases:
            with self.subTest(keys=keys):
                self.assertEqual(s.got(keys + ("" if keys.endswith(ESC) else ENTER)), want)
                if "\x1b" not in want:
                    self.assertEqual(s.prompt_row(), ">> " + want.replace("\t", "    "))
        self.assertEqual(s.got(CTRL["c"]), "q")
        self.assert_restored(s)

    def test_history(self):
        s = self.session()
        for line in ["one", "two", "three"]:
            self.assertEqual(s.got(line + ENTER), line)
        # Esc ends each probe so that nothing is added to the history.
        cases = [
            (UP, "three"),
            (UP * 2, "two"),
            (UP * 3, "one"),
            (UP * 4, ""),                   # past the oldest: an empty line
            (UP * 4 + DOWN, "one"),         # and back down to the oldest
            (DOWN, ""),                     # below the most recent: empty
            (UP * 2 + DOWN, "three"),       # Down goes to the newer entry
            (UP + DOWN, ""),
            (CTRL["p"] * 2 + CTRL["n"], "three"),
            ("x" + UP, "three"),            # the entry replaces what was typed
        ]
        for keys, want in cases:
            with self.subTest(keys=keys):
                self.assertEqual(s.got(keys + ESC), want + "\x1b")
        self.assertEqual(s.got(UP + ENTER), "three")    # the same again: not added
        self.assertEqual(s.got(UP * 2 + ESC), "two\x1b")
        self.assertEqual(s.got("THREE" + ENTER), "THREE")  # another letter case is
        self.assertEqual(s.got(ENTER), "")               # an empty line is not
        self.assertEqual(s.got(UP + ESC), "THREE\x1b")
        self.assertEqual(s.got(UP * 2 + ESC), "three\x1b")
        # Hidden input shows stars and stays out of the history.
        self.assertEqual(s.got("hide" + ENTER), "hide")
        s.start("secret")
        s.wait(lambda: "Password: ******" in s.screen.lines(), "stars in place of the input")
        self.assertEqual(s.got(ENTER, begun=True), "secret")
        self.assertEqual(s.got(UP + ESC), "hide\x1b")
        self.assertEqual(s.got("history" + ENTER), "history")
        s.expect(r'history: \["history" "hide" "THREE" "three" "two" "one"\]')
        self.assertEqual(s.got(CTRL["d"]), "q")
        self.assert_restored(s)

    def test_completion(self):
        s = self.session()
        # Several candidates: they are shown in place of the line, the line
        # read is empty, and the next edit starts from the common part.
        self.assertEqual(s.got("pri" + TAB), "")
        self.assertTrue(s.entered)
        self.assertEqual(s.prompt_row(), ">> prin print")
        s.wait(lambda: s.screen.line(s.screen.row) == ">> prin", "the next prompt with the common part")
        self.assertEqual(s.got("t" + ENTER), "print")
        # One candidate: the line becomes it, the cursor after the word.
        self.assertEqual(s.got("appe" + TAB + "!" + ENTER), "append!")
        # In the middle of a line the text after the cursor stays.
        self.assertEqual(s.got("x appeyz" + LEFT * 2 + TAB + "!" + ENTER), "x append!yz")
        # No candidate: Tab is typed.
        self.assertEqual(s.got("zz" + TAB + ENTER), "zz\t")
        # A completion function that fails: its error comes out of the read,
        # the terminal back in its mode.
        s.start("boom" + TAB)
        s.expect(r"completion error\r?\n")
        self.assertEqual(s.got(), "boom")
        self.assertEqual(s.got("after" + ENTER), "after")
        self.assertEqual(s.got(CTRL["c"]), "q")
        self.assert_restored(s)

    def test_wide_characters_and_wrapping(self):
        s = self.session(columns=10, rows=8)
        # A wide character that would start in the last column goes to the
        # next row; the cursor on it stands there too.
        s.start("abcdef日g")
        s.wait(lambda: s.screen.lines()[s.screen.row - 1:s.screen.row + 1] == [">> abcdef", "日g"],
               "the wide character on the next row")
        s.send(LEFT * 2)
        s.wait(lambda: s.screen.col == 0, "the cursor on the wide character")
        self.assertEqual(s.got("Y" + ENTER, begun=True), "abcdefY日g")
        # Text that fills a row to its end: the cursor starts the next row.
        s.start("abcdefg")
        s.wait(lambda: s.screen.line(s.screen.row - 1) == ">> abcdefg" and s.screen.col == 0,
               "the cursor at the start of the next row")
        s.send("hij" + BACKSPACE * 4)
        s.wait(lambda: s.screen.line(s.screen.row) == ">> abcdef" and s.screen.line(s.screen.row + 1) == ""
               and s.screen.col == 9, "the rows cleared after Backspace")
        s.send("XYZ" + HOME + "Q")
        s.wait(lambda: s.screen.lines()[s.screen.row:s.screen.row + 2] == [">> Qabcdef", "XYZ"],
               "a full redraw after a change inside the line")
        self.assertEqual(s.got(ENTER, begun=True), "QabcdefXYZ")
        # A prompt's colour sequence takes no columns.
        self.assertEqual(s.got("colour" + ENTER), "colour")
        s.start("abcdefgh" + HOME + "Z")
        s.wait(lambda: s.screen.lines()[s.screen.row:s.screen.row + 2] == [">> Zabcdef", "gh"],
               "wrapping after a zero-width sequence")
        self.assertEqual(s.got(ENTER, begun=True), "Zabcdefgh")
        self.assertEqual(s.got(CTRL["d"]), "q")
        self.assert_restored(s)

    def test_prompt_after_text(self):
        s = self.session()
        self.assertEqual(s.got("prefix" + ENTER), "prefix")
        s.start("xyz" + HOME + "Q")
        s.wait(lambda: "abc>> Qxyz" in s.screen.lines(), "the prompt after the printed text")
        self.assertEqual(s.got(ENTER, begun=True), "Qxyz")
        self.assertEqual(s.prompt_row(), "abc>> Qxyz")
        self.assertEqual(s.got(CTRL["d"]), "q")
        self.assert_restored(s)

    def test_resize(self):
        s = self.session(columns=40, rows=12)
        self.assertEqual(s.got("one" + ENTER), "one")
        s.wait(lambda: s.screen.line(s.screen.row) == ">>", "the prompt")
        with s.cond:
            s.screen.resize(12, 12)
        fcntl.ioctl(s.fd, termios.TIOCSWINSZ, struct.pack("HHHH", 12, 12, 0, 0))
        s.start("abcdefghijkl" + HOME + "Z")
        s.wait(lambda: s.screen.lines()[s.screen.row:s.screen.row + 2] == [">> Zabcdefgh", "ijkl"],
               "the line redrawn at the new width")
        self.assertEqual(s.got(ENTER, begun=True), "Zabcdefghijkl")
        self.assertEqual(s.got("size" + ENTER), "size")
        s.expect(r"size: 12x12\r?\n")
        self.assertEqual(s.got(CTRL["d"]), "q")
        self.assert_restored(s)

    def test_terminal_restored_on_every_way_out(self):
        # Ctrl+C while text is typed.
        s = self.session()
        self.assertEqual(s.got("abc" + CTRL["c"]), "q")
        self.assert_restored(s)
        # Ended from outside in the middle of an edit.
        s = self.session()
        s.start("abc")
        s.wait(lambda: ">> abc" in s.screen.lines(), "the typed text")
        os.kill(s.probe_pid, signal.SIGTERM)
        self.assert_restored(s, status=128 + signal.SIGTERM)
        # A crash inside a completion function, in the middle of an edit.
        s = self.session()
        s.start("crash" + TAB)
        s.expect(r"Runtime Error 1: access violation")
        self.assert_restored(s, status=1)


class RedirectedInputTest(unittest.TestCase):
    def test_lines_as_they_come(self):
        data = b"a\r\nb\n\xff\n\xc3(\nn\xc3\xa4\xe6\x97\xa5\nlast"
        out = subprocess.run([PROBE, SESSION], input=data, stdout=subprocess.PIPE, check=True,
                             timeout=DEADLINE).stdout.decode()
        self.assertNotIn("\x1b", out)  # no prompt, no title, no cursor moves
        got = [(unmold(m.group(1)), m.group(2)) for m in GOT.finditer(out)]
        self.assertEqual(got, [("a\r", "true"), ("b", "true"), ("\ufffd", "true"), ("\ufffd(", "true"),
                               ("nä日", "true"), ("last", "true"), ("", "false")])
        self.assertIn("size: 80x50", out)

    def test_empty_input_ends(self):
        out = subprocess.run([PROBE, SESSION], input=b"", stdout=subprocess.PIPE, check=True,
                             timeout=DEADLINE).stdout.decode()
        self.assertEqual([m.group(2) for m in GOT.finditer(out)], ["false"])
        self.assertTrue(out.endswith("bye\n"))


if __name__ == "__main__":
    PROBE, SESSION = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
