"""Snakemake's report page embeds React, Vega and Tailwind and the licence
texts of the packages it shows, which Snakemake downloads (from CDNs and
GitHub) while it writes the page. Cluster nodes and CI machines often have no
internet, so each address is read from a local copy where there is one:
tools/report-assets.sh fills the folder (from the npm registry and Debian's
files). A copy is named by its address (local_name), so a Snakemake that
asks for other versions finds none and downloads them.

    python3 -m tarvel_panel.report_assets urls     # what Snakemake's report asks for
    python3 -m tarvel_panel.report_assets name URL # the local copy's file name
"""
import os
import re
import sys

DEFAULT_FOLDER = ".report-assets"   # in the repository; TARVEL_REPORT_ASSETS names another


def local_name(url: str) -> str:
    return re.sub(r"[^A-Za-z0-9._-]", "_", url.split("://", 1)[-1])


def assets_folder(repo: str) -> str:
    return os.environ.get("TARVEL_REPORT_ASSETS") or os.path.join(repo, DEFAULT_FOLDER)


def wanted_urls():
    """Every address Snakemake's report reads: the licences that listing its
    packages downloads, then the packages' scripts."""
    from snakemake.report.data import packages as module
    asked = []
    fetch = module.get_resource_as_string
    module.get_resource_as_string = lambda url: asked.append(url) or ""
    try:
        packages = module.get_packages().packages.values()
    finally:
        module.get_resource_as_string = fetch
    for package in packages:
        asked += [package.url] if hasattr(package, "url") else list(getattr(package, "urls", {}).values())
    return [u for u in asked if u and "://" in u]


def gather(folder: str, urls, download):
    """Each address's text from its local copy, or downloaded; an address
    neither gives raises an InputError naming its local copy."""
    from .errors import InputError
    texts = {}
    for url in urls:
        local = os.path.join(folder, local_name(url))
        if os.path.isfile(local):
            with open(local, encoding="utf-8") as f:
                texts[url] = f.read()
            continue
        try:
            texts[url] = download(url)
        except Exception:
            raise InputError(local, f"missing, and {url} cannot be downloaded: the report needs it; "
                             "run tools/report-assets.sh once (no internet needed besides the npm registry)")
    return texts


def download(url: str) -> str:
    import requests
    answer = requests.get(url, timeout=30)
    answer.raise_for_status()
    return answer.text


def serve_local(repo: str) -> None:
    """Snakemake's report takes every address from the texts gathered now,
    before it starts; a missing one stops the run here, in one line."""
    import snakemake.report as report
    from snakemake.report.data import packages
    texts = gather(assets_folder(repo), wanted_urls(), download)
    for module in (report, packages):
        fetch = module.get_resource_as_string
        module.get_resource_as_string = lambda path, fetch=fetch: texts[path] if path in texts else fetch(path)


def wants_report(argv) -> bool:
    return any(a == "--report" or a.startswith("--report=") for a in argv)


def main(argv=None) -> int:
    args = sys.argv[1:] if argv is None else argv
    if args == ["urls"]:
        print("\n".join(wanted_urls()))
    elif len(args) == 2 and args[0] == "name":
        print(local_name(args[1]))
    else:
        print("usage: python3 -m tarvel_panel.report_assets urls | name URL", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
