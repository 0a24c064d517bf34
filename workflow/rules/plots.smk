# Founder plots (`python3 -m tarvel_panel plot all`, figures/): one job paints every chromosome of
# every strain from the npz files and draws every strain's mosaic
# (plots/strains/<safe>.png|svg) and every chromosome's panel mosaic
# (plots/panel_chr<safe>.png|svg) and the genome's (plots/panel_genome.png|svg),
# two processes at once. Off with --config plots=false. The panel mosaics go
# into Snakemake's report.


def plot_targets():
    return [paths.plots_dir(OUT)]


def all_npz(wildcards):
    return [paths.npz_file(OUT, c) for c in prepared_panel().chromosome_safes()]


def plot_strains(wildcards):
    return len(prepared_panel().strains)


# a process takes about 100 MB and holds a panel mosaic's pixels, 0.13 MB per
# strain; about 0.2 s per figure and process, measured on a 69-strain panel
def plot_mem_mb(wildcards, attempt):
    return attempt * (300 + plot_strains(wildcards) // 2)


def plot_minutes(wildcards, attempt):
    return attempt * (10 + plot_strains(wildcards) // 60)


def mosaic_label(wildcards):
    """The report's name of a panel mosaic (panel_<figure>.png): the genome, or
    a chromosome's real name. Snakemake puts labels unescaped into a script
    of the page, so a name holding "<" is shown by its safe name."""
    if wildcards.figure == "genome":
        return {"figure": "genome"}
    names = {f"chr{c['safe']}": c["name"] for c in prepared_panel().chromosomes}
    name = names.get(wildcards.figure, wildcards.figure[3:])
    return {"figure": f"chromosome {wildcards.figure[3:] if '<' in name else name}"}


rule plots:
    input: all_npz
    output:
        report(directory(paths.plots_dir(OUT)), patterns=["panel_{figure}.png"], caption="../report/panel_mosaic.rst",
               category="Panel mosaics", labels=mosaic_label)
    log: log_of("plots")
    threads: 2
    resources: mem_mb=plot_mem_mb, runtime=plot_minutes
    shell: "{PY} --log {log:q} plot all --out {OUT:q} --jobs {threads}"
