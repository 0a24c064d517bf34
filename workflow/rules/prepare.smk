# The panel read once and laid out as TARVEL's input files, one folder per run.

# the config that shapes the panel, as prepare reads it; a change of these
# keys (params) redoes prepare and every run
rule panel_config:
    output: f"{OUT}/config.json"
    params: config=json.dumps(panel_config(), sort_keys=True)
    shell: "printf '%s\\n' {params.config:q} > {output:q}"


# a checkpoint: the strains and chromosomes are known only once the panel is read
checkpoint prepare:
    input:
        config=f"{OUT}/config.json",
        sources=source_files,
    output: directory(PREPARED)
    shell: "{PY}.prepare --config {input.config:q} --dest {output:q}"
