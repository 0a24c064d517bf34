# Founder plots (`python3 -m tarvel_panel plot all`, figures/): one job paints every chromosome of
# every strain from the npz files and draws every strain's mosaic
# (plots/strains/<safe>.png|svg) and every chromosome's panel mosaic
# (plots/panel_chr<safe>.png|svg) and the genome's (plots/panel_genome.png|svg),
# two processes at once. Off with --config plots=false. The panel mosaics go
# into Snakemake's report.


# lint: see common.smk
rule plots:
    input: all_npz
    output:
        report(directory(paths.plots_dir(OUT)), patterns=["panel_{figure}.png"], caption="../report/panel_mosaic.rst",
               category="Panel mosaics", labels=mosaic_label)
    log: log_of("plots")
    threads: 2
    resources: mem_mb=plot_mem_mb, runtime=plot_minutes
    params: py=PY, out=OUT
    shell: "{params.py} --log {log:q} plot all --out {params.out:q} --jobs {threads}"
