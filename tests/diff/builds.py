"""Release builds of TARVEL from a git revision or a source tree, kept in a
cache directory so a second run reuses them."""
import os
import subprocess
import sys
import tarfile
import io

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DEFAULT_CACHE = os.path.join(REPO, "build-bench")


class BuildError(Exception):
    pass


def _run(cmd, log):
    with open(log, "ab") as out:
        out.write(("$ " + " ".join(cmd) + "\n").encode())
        out.flush()
        if subprocess.run(cmd, stdout=out, stderr=subprocess.STDOUT).returncode != 0:
            raise BuildError("command failed: %s (log: %s)" % (" ".join(cmd), log))


def resolve_revision(rev, repo=REPO):
    """The full commit hash of REV in REPO; BuildError when unknown."""
    r = subprocess.run(["git", "-C", repo, "rev-parse", "--verify", "--quiet", rev + "^{commit}"],
                       capture_output=True, text=True)
    if r.returncode != 0:
        raise BuildError("unknown git revision %r in %s (a shallow clone may lack it)" % (rev, repo))
    return r.stdout.strip()


def cmake_build(source, build_dir, extra=(), log=None, progress=None):
    """Configures and builds SOURCE in BUILD_DIR (Release, no tests, -j2)."""
    os.makedirs(build_dir, exist_ok=True)
    log = log or os.path.join(build_dir, "build.log")
    if progress:
        progress("building %s in %s" % (source, build_dir))
    _run(["cmake", "-S", source, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
          "-DTARVEL_TESTS=OFF"] + list(extra), log)
    _run(["cmake", "--build", build_dir, "-j2"], log)
    return build_dir


def cache_has_option(build_dir, name):
    """True when the configured project declares option NAME (a BOOL cache entry)."""
    try:
        with open(os.path.join(build_dir, "CMakeCache.txt")) as f:
            return any(line.startswith(name + ":BOOL=") for line in f)
    except OSError:
        return False


def build_revision(rev, cache=DEFAULT_CACHE, progress=None):
    """Builds git revision REV of this repository once into CACHE/ref-<hash>;
    returns the build directory (TARVEL and tools/simulate/tarvel_simulate)."""
    full = resolve_revision(rev)
    top = os.path.join(cache, "ref-" + full[:10])
    build_dir = os.path.join(top, "build")
    stamp = os.path.join(top, "built")
    if os.path.exists(stamp):
        return build_dir
    src = os.path.join(top, "src")
    if not os.path.isdir(src):
        if progress:
            progress("extracting revision %s into %s" % (full[:10], src))
        archive = subprocess.run(["git", "-C", REPO, "archive", full], capture_output=True)
        if archive.returncode != 0:
            raise BuildError("git archive %s failed: %s" % (full, archive.stderr.decode().strip()))
        tmp = src + ".part"
        os.makedirs(tmp, exist_ok=True)
        with tarfile.open(fileobj=io.BytesIO(archive.stdout)) as t:
            t.extractall(tmp)
        os.rename(tmp, src)
    cmake_build(src, build_dir, progress=progress)
    open(stamp, "w").close()
    return build_dir


def candidate_build_dir(source, cache=DEFAULT_CACHE, flavour="default"):
    """Where a source tree's build of FLAVOUR lives in CACHE."""
    name = os.path.abspath(source).strip("/").replace("/", "_") or "root"
    return os.path.join(cache, "cand-" + name, flavour)


def tarvel(build_dir):
    return os.path.join(build_dir, "TARVEL")


def simulator(build_dir):
    return os.path.join(build_dir, "tools", "simulate", "tarvel_simulate")


def say(msg):
    print(msg, file=sys.stderr, flush=True)
