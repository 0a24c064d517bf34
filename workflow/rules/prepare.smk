# The panel read once and laid out as TARVEL's input files, one folder per run.

rule panel_config:
    output: f"{OUT}/config.json"
    params: config=json.dumps(panel_config(), sort_keys=True)
    run:
        with open(output[0], "w") as f:
            f.write(params.config + "\n")


# a checkpoint: the strains and chromosomes are known only once the panel is read
checkpoint prepare:
    input:
        config=f"{OUT}/config.json",
        sources=source_files,
    output: directory(PREPARED)
    shell: "{PY}.prepare --config {input.config:q} --dest {output:q}"
