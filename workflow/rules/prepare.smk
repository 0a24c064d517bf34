# The panel read once and laid out as TARVEL's input files (`python3 -m tarvel_panel prepare`, panel/prepare.py).
#
# OUT/config.json holds the config that shapes the panel; the Snakefile
# rewrites it as soon as the wanted config differs, so its time redoes
# prepare and all that follows (a dry run writes nothing and says so).


# a checkpoint: the strains and chromosomes are known only once the panel is read
# lint: see common.smk
checkpoint prepare:
    input:
        config=config_record,
        sources=source_files,
    output: directory(PREPARED)
    log: log_of("prepare")
    resources: mem_mb=prepare_mem_mb, runtime=60
    params: py=PY, record=CONFIG_JSON
    shell: "{params.py} --log {log:q} prepare --config {params.record:q} --dest {output:q}"
