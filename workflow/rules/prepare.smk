# The panel read once and laid out as TARVEL's input files (tarvel_panel.prepare).
#
# OUT/config.json holds the config that shapes the panel; the Snakefile
# rewrites it as soon as the wanted config differs, so its time redoes
# prepare and all that follows. A dry run writes nothing: it takes a file
# that is never there instead, to show what a real run would redo.
CONFIG_INPUT = f"{OUT}/.config.json.pending" if CONFIG_PENDING else CONFIG_JSON


rule panel_config:
    output: f"{OUT}/.config.json.pending"
    shell: "echo 'only a dry run asks for this file' >&2; exit 1"


# a checkpoint: the strains and chromosomes are known only once the panel is read
checkpoint prepare:
    input:
        config=CONFIG_INPUT,
        sources=source_files,
    output: directory(PREPARED)
    resources: mem_mb=2000, runtime=60
    shell: "{PY}.prepare --config {CONFIG_JSON:q} --dest {output:q}"
