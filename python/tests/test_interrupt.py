# Ctrl-C must reach a long recursive search: the search runs natively with the
# interpreter lock held, so only a poll from inside it can notice the signal.
import signal
import subprocess
import sys
import time

CHILD = """
import signal
import sys
from tavik import Field

# A parent started in the background without job control hands SIGINT down
# ignored, and Python then installs no KeyboardInterrupt handler: restore it.
signal.signal(signal.SIGINT, signal.default_int_handler)

field = Field()
for x, t in [(1, 4), (2, 5), (3, 6), (4, 7), (5, 4), (6, 5), (1, 5), (2, 6), (3, 7), (4, 4), (5, 5), (6, 6)]:
    field = field.put(x, t)
try:
    # Inside the try: on a loaded machine the signal may come before the search starts.
    print("started", flush=True)
    field.find_chain_recursive(20)  # minutes of work; never meant to finish
    print("finished", flush=True)
except KeyboardInterrupt:
    print("interrupted", flush=True)
"""


def test_sigint_stops_recursive_search():
    proc = subprocess.Popen([sys.executable, "-c", CHILD], stdout=subprocess.PIPE, text=True)
    try:
        assert proc.stdout.readline().strip() == "started"
        time.sleep(0.5)  # let the search get going
        proc.send_signal(signal.SIGINT)
        out, _ = proc.communicate(timeout=10)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    assert out.strip() == "interrupted"
    assert proc.returncode == 0
