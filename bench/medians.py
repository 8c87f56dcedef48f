#!/usr/bin/env python3
"""One table from the tables of several rounds of a whole-run benchmark.

    medians.py round-1.txt round-2.txt ...

Each round's table is the rows after its "figure ... ratio" heading: a label,
two or more spaces, the program's figure and its unit, the baseline and its
unit, and the ratio. Rows are matched between rounds by their label with its
numbers left out ("LOCAL again (1 files copied)"); the table printed has the
rows in the order of their first round and, for each, the medians of the figure and of the
baseline, and the median of the rounds' ratios with their range: each ratio
is against the baseline of its own round, never against another round's.
The machine's load at the end of each round is printed above it.
"""
import re
import statistics
import sys


def read_round(path):
    rows, load = [], None
    in_table = False
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            line = line.rstrip("\r\n")
            found = re.search(r"load ([0-9.]+)", line)
            if line.startswith("Machine:") and found:
                load = float(found.group(1))
            if line.startswith("figure") and line.rstrip().endswith("ratio"):
                in_table = True
                continue
            row = re.match(r"^(\s*\S.*?)\s{2,}(\S.*)$", line)
            if not in_table or row is None:
                continue
            tokens = row.group(2).split()
            if not 4 <= len(tokens) <= 5:
                continue
            # figure unit baseline unit ratio; a figure the round could not
            # read is missing with its unit kept ("ms 255 ms ?").
            figures = [t for t in tokens[:-1] if number(t) is not None]
            units = [t for t in tokens[:-1] if number(t) is None]
            if len(figures) == 2:
                value, baseline = figures
            elif number(tokens[0]) is not None:
                value, baseline = figures[0], "-"
            else:
                value, baseline = "-", figures[0] if figures else "-"
            rows.append((row.group(1), value, baseline, units[0] if units else "", tokens[-1]))
    return rows, load


def number(text):
    try:
        return float(text)
    except ValueError:
        return None


def median_text(values):
    numbers = [v for v in (number(t) for t in values) if v is not None]
    if not numbers:
        return "-"
    m = statistics.median(numbers)
    return "%.0f" % m if m >= 100 else "%.1f" % m


def main(paths):
    rounds = [read_round(p) for p in paths]
    rounds = [r for r in rounds if r[0]]
    if not rounds:
        print("medians.py: no table in %s" % " ".join(paths), file=sys.stderr)
        return 1
    order, columns = [], {}
    for rows, _ in rounds:
        seen = {}
        for row in rows:
            # The same label twice in a round (a data phase of each run) are two rows.
            key = re.sub(r"[0-9]+", "#", row[0])
            seen[key] = seen.get(key, 0) + 1
            key = "%s/%d" % (key, seen[key])
            if key not in columns:
                order.append(key)
                columns[key] = []
            columns[key].append(row)
    loads = [load for _, load in rounds if load is not None]
    print("Medians of %d rounds (load %s), each ratio against its own round's baseline, range in brackets"
          % (len(rounds), "%.2f-%.2f" % (min(loads), max(loads)) if loads else "?"))
    print("%-50s %14s %14s %8s" % ("figure", "fernwick.exe", "baseline", "ratio"))
    for key in order:
        column = columns[key]
        label, unit = column[0][0], column[0][3]
        ratios = [v for v in (number(row[4]) for row in column) if v is not None]
        ratio = ("%.2f (%.2f-%.2f)" % (statistics.median(ratios), min(ratios), max(ratios))
                 if ratios else "?")
        if len(column) < len(rounds):
            ratio += " in %d of %d rounds" % (len(column), len(rounds))
        print("%-50s %11s %-2s %11s %-2s %s" % (label, median_text(row[1] for row in column), unit,
                                               median_text(row[2] for row in column), unit, ratio))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
