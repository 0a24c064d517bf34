"""Snakemake's report page embeds React, Vega and Tailwind's browser script
and shows the licence texts of the packages it uses, which Snakemake
downloads (from CDNs and GitHub) while it writes the page. Cluster nodes and
CI machines often have no internet, and the panel takes libraries from
Debian's packages only, so every address Snakemake 7.21 asks for is served
from a local file instead:


- React and ReactDOM 18.2: Debian's node-react and node-react-dom;
- Vega, Vega-Lite and Vega-Embed: Debian packages no build the page can use,
  so workflow/report/assets/vega-standin.js stands in, and the page's rule
  graph and runtime statistics stay empty;
- Tailwind's in-browser compiler: the small stylesheet
  workflow/report/assets/report.css, added to the page by a line of script;
- licences: Debian's copyright files, else a line naming the licence.
An address not listed here (another Snakemake) is left to Snakemake."""
import json
import os
from tarvel_panel import REPO

from tarvel_panel.errors import InputError

ASSETS = os.path.join(REPO, "workflow", "report", "assets")


def debian(path, package):
    def read():
        if not os.path.isfile(path):
            raise InputError(path, f"missing: the report embeds it; install Debian's {package} "
                             "(tools/install-deps.sh does)")
        return _read(path)
    return read


def ours(name):
    return lambda: _read(os.path.join(ASSETS, name))


def stylesheet(name):
    """A script that adds the stylesheet to the page (Snakemake puts the
    Tailwind address's text in a <script> of the page's head)."""
    def read():
        css = json.dumps(_read(os.path.join(ASSETS, name))).replace("</", "<\\/")
        return f"(function () {{ var s = document.createElement('style'); s.textContent = {css}; " \
               "document.head.appendChild(s); })();"
    return read


def note(text):
    return lambda: text


def _read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


CDN = "https://cdnjs.cloudflare.com/ajax/libs"
GITHUB = "https://raw.githubusercontent.com"
NOT_EMBEDDED = "This report does not embed it: workflow/report/assets/vega-standin.js stands in."
SOURCES = {
    f"{CDN}/react/18.2.0/umd/react.production.min.js":
        debian("/usr/share/nodejs/react/umd/react.production.min.js", "node-react"),
    f"{CDN}/react-dom/18.2.0/umd/react-dom.production.min.js":
        debian("/usr/share/nodejs/react-dom/umd/react-dom.production.min.js", "node-react-dom"),
    f"{CDN}/vega/5.21.0/vega.js": ours("vega-standin.js"),
    f"{CDN}/vega-lite/5.2.0/vega-lite.js": note(""),
    f"{CDN}/vega-embed/6.20.8/vega-embed.js": note(""),
    "https://cdn.tailwindcss.com/3.0.23?plugins=forms@0.4.0,typography@0.5.2": stylesheet("report.css"),
    f"{GITHUB}/snakemake/snakemake/main/LICENSE.md": debian("/usr/share/doc/snakemake/copyright", "snakemake"),
    f"{GITHUB}/pygments/pygments/master/LICENSE":
        debian("/usr/share/doc/python3-pygments/copyright", "python3-pygments"),
    f"{GITHUB}/facebook/react/main/LICENSE": debian("/usr/share/doc/node-react/copyright", "node-react"),
    f"{GITHUB}/tailwindlabs/tailwindcss/master/LICENSE":
        note("Tailwind CSS: MIT licence. This report does not embed it: "
             "workflow/report/assets/report.css styles the page."),
    f"{GITHUB}/vega/vega/main/LICENSE": note("Vega: BSD 3-Clause licence. " + NOT_EMBEDDED),
    f"{GITHUB}/vega/vega-lite/next/LICENSE": note("Vega-Lite: BSD 3-Clause licence. " + NOT_EMBEDDED),
    f"{GITHUB}/vega/vega-embed/next/LICENSE": note("Vega-Embed: BSD 3-Clause licence. " + NOT_EMBEDDED),
    f"{GITHUB}/tailwindlabs/heroicons/master/LICENSE":
        note("Heroicons: MIT licence; Snakemake's page draws a few of its icons."),
}


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


def gather(urls, sources=SOURCES):
    """The text of each address that has a local source; a Debian file that
    is missing raises an InputError naming it and its package."""
    return {url: sources[url]() for url in urls if url in sources}


def serve_local():
    """Snakemake's report takes every listed address from the texts gathered
    now, before it starts; a missing file stops the run here, in one line."""
    import snakemake.report as report
    from snakemake.report.data import packages
    texts = gather(wanted_urls())
    for module in (report, packages):
        fetch = module.get_resource_as_string
        module.get_resource_as_string = lambda path, fetch=fetch: texts[path] if path in texts else fetch(path)


def wants_report(argv) -> bool:
    return any(a == "--report" or a.startswith("--report=") for a in argv)
