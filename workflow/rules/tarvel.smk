# TARVEL in batches: one job runs a batch of `batch_size` strains (0: all) of
# one chromosome, up to `batch_threads` TARVEL processes at once, each started
# directly by one runner (tarvel_panel.runjob). Results in runs/, apart from
# the checkpoint's folder; a batch's done file lists its strains once all
# their results are in place and read back complete.


def batch_strains(wildcards):
    """Number of strains in this batch."""
    return len(layout.batch_members(prepared_panel()["strains"], int(wildcards.batch), BATCH_SIZE))


def chromosome_runs(chrom_safe):
    """The files the collect step of a chromosome takes as input: the done
    file of each of its batches. Its strains' results are then at
    runs/chr<c>/<strain>/strain.txt.prob (layout.results_file). Unless
    keep_runs is set, the done files are temporary and the results are
    removed once the chromosome is collected (rule drop_runs)."""
    panel = prepared_panel()
    batches = layout.batch_count(len(panel["strains"]), BATCH_SIZE)
    return [layout.batch_file(RUNS, chrom_safe, k) for k in range(batches)]


def batch_threads(wildcards):
    return max(1, min(BATCH_THREADS, batch_strains(wildcards)))


# memory and time of a batch (formulas in config.yaml); a job resubmitted
# after a failure (--restart-times) asks for twice, three times, ... as much
def batch_mem_mb(wildcards, threads, attempt):
    per_process = float(config["mem_mb_per_process"]) + \
        chromosome_markers(wildcards.chr) * float(config["mem_kb_per_marker"]) / 1024
    return attempt * math.ceil(float(config["mem_mb_base"]) + threads * per_process)


def batch_runtime(wildcards, threads, attempt):
    rounds = math.ceil(batch_strains(wildcards) / threads)
    minutes = rounds * chromosome_markers(wildcards.chr) * float(config["runtime_ms_per_marker"]) / 60000
    return attempt * max(int(config["runtime_min_minutes"]), math.ceil(minutes))


def done_file(path):
    return path if KEEP_RUNS else temp(path)


rule tarvel:
    input: PREPARED
    output: done_file(layout.batch_file(RUNS, "{chr}", "{batch}"))
    log: f"{OUT}/logs/tarvel/batches/chr{{chr}}/{{batch}}.log"
    threads: batch_threads
    resources:
        mem_mb=batch_mem_mb,
        runtime=batch_runtime,
    shell:
        "{PY}.runjob --tarvel {TARVEL:q} --out {OUT:q} --chr {wildcards.chr:q} --batch {wildcards.batch:q}"
        " --batch-size {BATCH_SIZE} --threads {threads} --done {output:q} > {log:q}"


def dropped_marker(chrom_safe):
    return layout.dropped_file(RUNS, chrom_safe)


def collected(wildcards):
    """The lasting outputs of the chromosome's collect step (not its temporary ones)."""
    return [apply_wildcards(f, wildcards) for f in rules.collect.rule.output if not f.is_temp]


# once a chromosome is collected its raw results go (unless keep_runs); the
# marker file keeps a rerun from asking for them again
rule drop_runs:
    input:
        collected=collected,
        runs=lambda wildcards: chromosome_runs(wildcards.chr),
    output: touch(dropped_marker("{chr}"))
    # a shell command, not a run block: Snakemake 7 starts a run block as
    # another Snakemake, a dozen lines in the log for each chromosome
    shell: "{PY}.drop_runs --out {OUT:q} --chr {wildcards.chr:q}"
