#!/usr/bin/env python3
"""Runs a command on a terminal of its own and types a line when a prompt shows.

usage: terminal.py PROMPT LINE COMMAND [ARG...]
Everything the terminal shows is copied to standard output (the typed line
appears there only if the command lets the terminal echo it); the exit status
is the command's, 124 when the prompt does not come within 60 seconds.
"""
import os
import pty
import select
import subprocess
import sys
import time

prompt, line, command = sys.argv[1].encode(), sys.argv[2].encode(), sys.argv[3:]
controller, terminal = pty.openpty()
child = subprocess.Popen(command, stdin=terminal, stdout=terminal, stderr=terminal, start_new_session=True)
os.close(terminal)
shown, typed, deadline = b"", False, time.monotonic() + 60
while True:
    ready, _, _ = select.select([controller], [], [], 1)
    if ready:
        try:
            chunk = os.read(controller, 4096)
        except OSError:
            break  # the command ended and closed the terminal
        if not chunk:
            break
        shown += chunk
        if not typed and prompt in shown:
            os.write(controller, line + b"\n")
            typed = True
    elif not typed and time.monotonic() > deadline:
        child.kill()
        sys.stdout.buffer.write(shown)
        sys.exit(124)
sys.stdout.buffer.write(shown)
sys.exit(child.wait())
