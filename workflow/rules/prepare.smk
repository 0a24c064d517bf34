# The panel read once and laid out as TARVEL's input files (`python3 -m tarvel_panel prepare`, panel/prepare.py).
#
# OUT/config.json holds the config that shapes the panel; the Snakefile
# rewrites it as soon as the wanted config differs, so its time redoes
# prepare and all that follows (a dry run writes nothing and says so).


# about 100 MB for Python and numpy and, per marker, 0.65 KB; the genotypes
# at two bits per call: their text (2 bytes a call) counts for far more than
# they take, a zip's for about what they take
def prepare_mem_mb(wildcards, input, attempt):
    return attempt * (200 + math.ceil(input.size_mb))


# a checkpoint: the strains and chromosomes are known only once the panel is read
def config_record(wildcards):
    """config.json, which every run writes before it looks at the jobs; a dry
    run writes nothing, and on a new output folder there is none yet."""
    return [CONFIG_JSON] if os.path.exists(CONFIG_JSON) else []


checkpoint prepare:
    input:
        config=config_record,
        sources=source_files,
    output: directory(PREPARED)
    log: log_of("prepare")
    resources: mem_mb=prepare_mem_mb, runtime=60
    shell: "{PY} --log {log:q} prepare --config {CONFIG_JSON:q} --dest {output:q}"
