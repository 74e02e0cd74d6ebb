#!/usr/bin/env python3
"""pack-archive.py: pack a folder as a zip or .tar.gz that is the same bytes on every machine.

    tools/pack-archive.py zip|tar.gz FOLDER TOP ARCHIVE

Every file and folder below FOLDER goes into ARCHIVE under the folder name TOP, in sorted order,
dated SOURCE_DATE_EPOCH (default 0; a zip cannot go before 1980), owned by root, with mode 755
(folders and executables) or 644, and nothing else about the machine it was made on. CPack's
External generator calls it through cmake/PackArchive.cmake.
"""
import gzip
import os
import stat
import sys
import tarfile
import time
import zipfile


def entries(folder, top):
    """(path in the archive, path on disk, is a folder), the folder TOP first, sorted."""
    out = [(top, folder, True)]
    for here, dirs, files in os.walk(folder):
        dirs.sort()
        rel = os.path.relpath(here, folder)
        base = top if rel == "." else top + "/" + rel.replace(os.sep, "/")
        if rel != ".":
            out.append((base, here, True))
        for name in sorted(files):
            out.append((base + "/" + name, os.path.join(here, name), False))
    return out


def mode_of(path, is_dir):
    return 0o755 if is_dir or os.stat(path).st_mode & stat.S_IXUSR else 0o644


def pack_zip(items, archive, epoch):
    date = time.gmtime(max(epoch, 315532800))[:6]  # 1980-01-01, the first date a zip can hold
    with zipfile.ZipFile(archive, "w") as z:
        for name, path, is_dir in items:
            info = zipfile.ZipInfo(name + "/" if is_dir else name, date)
            info.create_system = 3  # Unix, so that the modes below count
            kind = stat.S_IFDIR if is_dir else stat.S_IFREG
            info.external_attr = (kind | mode_of(path, is_dir)) << 16 | (0x10 if is_dir else 0)
            if is_dir:
                z.writestr(info, b"")
            else:
                with open(path, "rb") as f:
                    z.writestr(info, f.read(), zipfile.ZIP_DEFLATED, 9)


def pack_tar_gz(items, archive, epoch):
    with open(archive, "wb") as raw:
        with gzip.GzipFile(filename="", mode="wb", fileobj=raw, mtime=epoch, compresslevel=9) as gz:
            with tarfile.open(fileobj=gz, mode="w", format=tarfile.GNU_FORMAT) as tar:
                for name, path, is_dir in items:
                    info = tarfile.TarInfo(name)
                    info.type = tarfile.DIRTYPE if is_dir else tarfile.REGTYPE
                    info.mode = mode_of(path, is_dir)
                    info.mtime = epoch
                    info.uid = info.gid = 0
                    info.uname = info.gname = "root"
                    if is_dir:
                        tar.addfile(info)
                    else:
                        info.size = os.path.getsize(path)
                        with open(path, "rb") as f:
                            tar.addfile(info, f)


def main():
    if len(sys.argv) != 5 or sys.argv[1] not in ("zip", "tar.gz"):
        sys.exit("usage: pack-archive.py zip|tar.gz FOLDER TOP ARCHIVE")
    kind, folder, top, archive = sys.argv[1:]
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "0"))
    items = entries(folder, top)
    (pack_zip if kind == "zip" else pack_tar_gz)(items, archive + ".tmp", epoch)
    os.replace(archive + ".tmp", archive)


if __name__ == "__main__":
    main()
