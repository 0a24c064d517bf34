# The panel read once and laid out as TARVEL's input files (tarvel_panel.prepare).
#
# OUT/config.json holds the config that shapes the panel; the Snakefile
# rewrites it as soon as the wanted config differs, so its time redoes
# prepare and all that follows (a dry run writes nothing and says so).


# a checkpoint: the strains and chromosomes are known only once the panel is read
checkpoint prepare:
    input:
        config=CONFIG_JSON,
        sources=source_files,
    output: directory(PREPARED)
    resources: mem_mb=2000, runtime=60
    shell: "{PY}.prepare --config {CONFIG_JSON:q} --dest {output:q}"
