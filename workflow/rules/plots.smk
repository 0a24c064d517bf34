# Founder plots (tarvel_panel.plot all): one job paints every chromosome of
# every strain from the npz files and draws every strain's mosaic
# (plots/strains/<safe>.png|svg) and every chromosome's panel mosaic
# (plots/panel_chr<safe>.png|svg), two processes at once. Off with --config plots=false.


def all_npz(wildcards):
    return [f"{OUT}/npz/chr{c.get('safe', c['name'])}.npz" for c in prepared_panel()["chromosomes"]]


def plot_minutes(wildcards, attempt):
    # about half a second per figure and process; a generous margin on a busy node
    figures = len(prepared_panel()["strains"]) + len(prepared_panel()["chromosomes"])
    return attempt * (10 + figures // 30)


rule plots:
    input: all_npz
    output: directory(f"{OUT}/plots")
    threads: 2
    resources: mem_mb=lambda wildcards, attempt: attempt * 800, runtime=plot_minutes
    shell: "{PY}.plot all --out {OUT:q} --jobs {threads}"
