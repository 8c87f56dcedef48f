#!/usr/bin/env python3
"""Where the time of a whole run goes, read from the program's own log.

The log's time stamps have whole seconds only, so the log file is watched
instead: `log-times.py watch LOG OUT` notes every growth of the file with the
time it was seen until it is killed (woken by the kernel's notice of each write
to the log's folder, so that the watch takes no processor time from the run it
measures; polling every few milliseconds where that notice is missing);
`log-times.py phases LOG OUT FROM` then gives each line written since byte FROM
the time its bytes first appeared, and prints the stretches of the run:

    start-ms   the first line of the run (the process is up, the log opened)
    data-ms    from the first component list to the last file copied into
               place: the data phase, comparable with a bare copy of the files
    total-ms   from the first line to the last

`log-times.py lines LOG OUT FROM` prints every such line with the time it
appeared and the milliseconds since the line before: where a run's time goes.
"""

import os
import sys
import time


IN_MODIFY, IN_MOVED_TO, IN_CREATE = 0x2, 0x80, 0x100


def folder_notices(folder):
    """A descriptor that becomes readable when a file in folder is written, or None."""
    try:
        import ctypes
        libc = ctypes.CDLL("libc.so.6", use_errno=True)
        fd = libc.inotify_init()
        if fd < 0:
            return None
        if libc.inotify_add_watch(fd, folder.encode(), IN_MODIFY | IN_MOVED_TO | IN_CREATE) < 0:
            os.close(fd)
            return None
        return fd
    except (OSError, AttributeError):
        return None


def watch(log, out):
    notices = folder_notices(os.path.dirname(log) or ".")
    with open(out, "w") as notes:
        start = time.monotonic()
        last = -1
        while True:
            try:
                size = os.path.getsize(log)
            except OSError:
                size = -1
            if size != last:
                notes.write("%.1f %d\n" % ((time.monotonic() - start) * 1000.0, size))
                notes.flush()
                last = size
            if notices is not None:
                os.read(notices, 65536)
            else:
                time.sleep(0.002)


def timed_lines(log, out, since):
    seen = [tuple(float(v) for v in line.split()) for line in open(out)]
    data = open(log, "rb").read()
    lines, at = [], since
    for raw in data[since:].split(b"\n"):
        end = at + len(raw) + 1
        # The moment the whole line was in the file.
        when = next((t for t, size in seen if size >= min(end, len(data))), None)
        lines.append((when, raw.decode("latin-1").strip("\r\t")))
        at = end
    return [(t, text) for t, text in lines if t is not None and text]


def phases(log, out, since):
    lines = timed_lines(log, out, since)
    if not lines:
        return
    first = lines[0][0]
    components = [t for t, text in lines if text.startswith("--- Install components")]
    copied = [t for t, text in lines if text.startswith("Copied '")]
    print("start-ms=%.0f" % first)
    if components and copied:
        print("data-ms=%.0f" % (copied[-1] - components[0]))
    print("total-ms=%.0f" % (lines[-1][0] - first))


def print_lines(log, out, since):
    lines = timed_lines(log, out, since)
    previous = lines[0][0] if lines else 0
    for when, text in lines:
        print("%8.1f %+7.1f  %s" % (when, when - previous, text))
        previous = when


if __name__ == "__main__":
    if sys.argv[1] == "watch":
        watch(sys.argv[2], sys.argv[3])
    elif sys.argv[1] == "lines":
        print_lines(sys.argv[2], sys.argv[3], int(sys.argv[4]))
    else:
        phases(sys.argv[2], sys.argv[3], int(sys.argv[4]))
