#!/usr/bin/env python3
"""A FUSE file system that misreports its files, as virtual and network file
systems do: it serves the files of the folder BACKING at MOUNT_POINT (which
may be BACKING itself), each reporting a size of at most --size bytes
whatever it holds, and answers every read with at most --piece bytes. Its
files are opened for direct_io, so that the kernel hands every read to it as
asked, past the reported size too, rather than reading a cache up to it.

    lying_fs.py [--size N] [--piece N] BACKING MOUNT_POINT

Runs in the foreground until it is unmounted, or until the process that
started it ends: it then unmounts itself, so that a test that fails leaves
no mount behind.
"""

import argparse
import errno
import os
import subprocess
import sys
import threading
import time

try:
    from fusepy import FUSE, FuseOSError, Operations  # Debian's name
except ImportError:
    from fuse import FUSE, FuseOSError, Operations


class LyingFs(Operations):
    def __init__(self, backing, size, piece):
        # Opened before mounting, so that the file system can be mounted on
        # the very folder whose files it serves.
        self.backing = os.open(backing, os.O_RDONLY | os.O_DIRECTORY)
        self.size = size
        self.piece = piece

    def getattr(self, path, fh=None):
        name = path.lstrip("/")
        try:
            st = (os.lstat(name, dir_fd=self.backing) if name
                  else os.fstat(self.backing))
        except OSError as error:
            raise FuseOSError(error.errno)
        attributes = {key: getattr(st, key) for key in (
            "st_mode", "st_nlink", "st_uid", "st_gid", "st_size",
            "st_atime", "st_mtime", "st_ctime")}
        if name and self.size is not None:
            attributes["st_size"] = min(st.st_size, self.size)
        return attributes

    def readdir(self, path, fh):
        return [".", ".."] + sorted(os.listdir(self.backing))

    def open(self, path, info):
        if info.flags & os.O_ACCMODE != os.O_RDONLY:
            raise FuseOSError(errno.EROFS)
        info.fh = os.open(path.lstrip("/"), os.O_RDONLY, dir_fd=self.backing)
        info.direct_io = 1
        return 0

    def read(self, path, size, offset, info):
        return os.pread(info.fh, min(size, self.piece), offset)

    def release(self, path, info):
        os.close(info.fh)
        return 0

    def unlink(self, path):
        try:
            os.unlink(path.lstrip("/"), dir_fd=self.backing)
        except OSError as error:
            raise FuseOSError(error.errno)


def unmount_when_orphaned(mount_point, parent):
    while os.getppid() == parent:
        time.sleep(0.2)
    for command in (["fusermount", "-u", "-z"], ["fusermount3", "-u", "-z"],
                    ["umount", "-l"]):
        try:
            if subprocess.run(command + [mount_point],
                              stderr=subprocess.DEVNULL).returncode == 0:
                break
        except OSError:
            pass
    os._exit(0)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--size", type=int)
    parser.add_argument("--piece", type=int, default=1 << 20)
    parser.add_argument("backing")
    parser.add_argument("mount_point")
    arguments = parser.parse_args()
    threading.Thread(target=unmount_when_orphaned, daemon=True,
                     args=(arguments.mount_point, os.getppid())).start()
    # hard_remove: a file unlinked while open is removed at once, not first
    # renamed to a hidden name, which this file system does not offer.
    FUSE(LyingFs(arguments.backing, arguments.size, arguments.piece),
         arguments.mount_point, foreground=True, raw_fi=True,
         nothreads=True, nonempty=True, hard_remove=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
