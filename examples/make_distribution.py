#!/usr/bin/env python3
"""Fills a copy of the sample distribution with what it delivers besides the
settings file: the product package of every language (built with wixl) and
the data archives of the component lists, of realistic size. Nothing of this
is kept in the repository; it is made again on each build of the example.

    python3 examples/make_distribution.py OUTDIR [--data-mb 200] [--dunzip DLL] [--earlier]

OUTDIR is a copy of examples/ (scripts/run-example.sh makes one). The packages
go where SYS_LN_DIR says (Sys_<lang>.msi), the archives under their packed
source names (LU\\ms.mdb.zsi, LU\\EN\\labels.mdb.zsi, ...). --data-mb is about
the total size of the archives; --dunzip is the unzip library the product
package installs (a placeholder without it). The archives' contents are fixed
by their names and the release, so every build gives the same files.

--earlier makes the release before this one instead (its own settings file,
the package of release 1, data of an older version): the distribution that
the upgrade form of the example installs first. Its databases and labels are
older than the current release requires; its other files are still current.
"""

import argparse
import os
import random
import subprocess
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import make_ini  # noqa: E402  (the component lists, languages and names)

# Share of the data each file takes, by its name: the member state's databases
# are the bulk, each language adds its labels and its guide.
WEIGHTS = {"ms.mdb": 30, "rates.mdb": 12, "labels.mdb": 6, "guide.pdf": 2}
SMALL_FILE = 24 * 1024   # notes and readmes; still larger than one marker window


def setting(key, overrides=None):
    if overrides and key in overrides:
        return overrides[key]
    for name, value in make_ini.SETTINGS:
        if name == key:
            return value
    sys.exit("the sample settings lack %s" % key)


def marker(version):
    """The version marker that delivered files carry in 16-bit characters."""
    return ("OMBRANT_--%s--_OMBRANT" % version).encode("utf-16-le")


def unpacked(name):
    """The file name inside a packed source name."""
    base = name.split("\\")[-1]
    return base[:-4] if base.lower().endswith((".zsi", ".zip")) else base


def sizes(names, total_mb):
    weights = [WEIGHTS.get(unpacked(name), 0) for name in names]
    unit = total_mb * 1024 * 1024 / max(1, sum(weights))
    return [int(w * unit) if w else SMALL_FILE for w in weights]


# The settings of the release before the current one (--earlier).
EARLIER = {"IniVersion": "2.0", "ExeVersion": "2.0.0.3", "SYSLNVersion": "2.0.0"}


def payload(name, size, version):
    """Fixed per name and release, so that a rebuild gives the same archives
    and checksums. The unpacked file ends in its version marker too: that is
    what the next release looks for in an installation's data."""
    if unpacked(name).lower() == "login.exe":
        return ("ZAPH QRT Login.exe placeholder, release %s\r\n" % version).encode("ascii")
    return random.Random(name).randbytes(size) + marker(version)


def write_archive(path, name, size, version):
    """A zip archive holding one stored member, the version marker in its
    comment at the very end of the file, where the marker search starts."""
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as archive:
        archive.writestr(unpacked(name), payload(name, size, version))
        archive.comment = marker(version)


def write_document(path, name, size, version):
    with open(path, "wb") as f:
        f.write(b"%PDF-1.4\n")
        f.write(payload(name, size, version))
        f.write(b"\n%%EOF\n")
        f.write(marker(version))


def make_data(out, total_mb, version):
    names = make_ini.source_names()
    made = 0   # bytes
    for name, size in zip(names, sizes(names, total_mb)):
        path = os.path.join(out, *name.split("\\"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if name.lower().endswith((".zsi", ".zip")):
            write_archive(path, name, size, version)
        else:
            write_document(path, name, size, version)
        made += os.path.getsize(path)
    print("data archives: %d files, %.1f MB" % (len(names), made / 1048576.0))


def make_packages(out, dunzip, overrides):
    folder = os.path.join(out, *setting("SYS_LN_DIR").split("\\"))
    script = os.path.join(HERE, "..", "tests", "fixtures", "packages", "build-packages.sh")
    env = dict(os.environ, LANGUAGES=" ".join(make_ini.LANGUAGES),
               PACKAGE_VERSION=setting("SYSLNVersion", overrides))
    # Release 2 of the package upgrades release 1; its version is the one the
    # settings file expects of it.
    release = "1" if overrides else "2"
    subprocess.check_call(["sh", script, folder, release] + ([dunzip] if dunzip else []), env=env)
    print("product packages: %s" % ", ".join("Sys_%s.msi" % lang for lang in make_ini.LANGUAGES))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("out")
    parser.add_argument("--data-mb", type=int, default=200)
    parser.add_argument("--dunzip", default="")
    parser.add_argument("--earlier", action="store_true")
    args = parser.parse_args()
    if not os.path.isdir(args.out):
        sys.exit("%s: no such folder" % args.out)
    overrides = EARLIER if args.earlier else {}
    if args.earlier:
        make_ini.write(os.path.join(args.out, "Zaph.ini"), overrides)
    make_packages(args.out, args.dunzip, overrides)
    make_data(args.out, args.data_mb, "V" + setting("ExeVersion", overrides))


if __name__ == "__main__":
    main()
