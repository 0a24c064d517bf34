"""Where an R/qtl2 cross's files are: beside the control file, or in a zip
with the control file (the first .yaml, .yml or .json in it, at any depth).
Files named by the control file are relative to it."""
import gzip
import os
import posixpath
import zipfile

from .errors import InputError

CONTROL_SUFFIXES = (".yaml", ".yml", ".json")


def cross_files(path):
    """The files of the cross whose control file or zip is at `path`."""
    if not os.path.isfile(path):
        raise InputError(path, "no such file")
    if path.lower().endswith(".zip"):
        return ZipFiles(path)
    if path.lower().endswith(CONTROL_SUFFIXES):
        return DirFiles(path)
    raise InputError(path, "expected an R/qtl2 control file (.yaml, .yml, .json) or a .zip holding one")


class DirFiles:
    """The control file and the files it names, relative to its folder."""

    def __init__(self, control):
        self.control = control
        self._base = os.path.dirname(control)

    def name(self, rel):
        return os.path.join(self._base, rel)

    def read(self, rel):
        path = self.control if rel is None else self.name(rel)
        if not os.path.isfile(path):
            return None
        with open(path, "rb") as f:
            return f.read()


class ZipFiles:
    """The first control file in a zip and the members it names, relative to
    the control file's folder inside the zip; shown as zip/member."""

    def __init__(self, zip_path):
        self._zip_path = zip_path
        try:
            self._zip = zipfile.ZipFile(zip_path)
            members = self._zip.namelist()
        except (zipfile.BadZipFile, OSError) as e:
            raise InputError(zip_path, f"not a readable zip file ({e})")
        controls = [m for m in members if m.lower().endswith(CONTROL_SUFFIXES)
                    and not m.endswith("/") and not m.startswith("__MACOSX/")]
        if not controls:
            raise InputError(zip_path, "the zip holds no control file (.yaml, .yml or .json)")
        self._member = controls[0]
        self._base = posixpath.dirname(self._member)
        self.control = f"{zip_path}/{self._member}"

    def _resolve(self, rel):
        return posixpath.normpath(posixpath.join(self._base, rel))

    def name(self, rel):
        return f"{self._zip_path}/{self._resolve(rel)}"

    def read(self, rel):
        member = self._resolve(rel) if rel is not None else self._member
        try:
            return self._zip.read(member)
        except KeyError:
            return None
        except (zipfile.BadZipFile, OSError) as e:
            raise InputError(f"{self._zip_path}/{member}", f"cannot be read from the zip ({e})")


def text(data, name):
    """A file's bytes as text; gzip-compressed files are read too."""
    if data[:2] == b"\x1f\x8b":
        try:
            data = gzip.decompress(data)
        except (OSError, EOFError) as e:
            raise InputError(name, f"not a readable gzip file ({e})")
    try:
        return data.decode("utf-8-sig")
    except UnicodeDecodeError as e:
        raise InputError(name, f"not UTF-8 text (byte {e.start})")
