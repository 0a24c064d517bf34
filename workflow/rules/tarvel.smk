# TARVEL in batches: one job runs a batch of `batch_size` strains (0: all) of
# one chromosome (`python3 -m tarvel_panel batch`, run/batch.py): tarvel_engine
# runs them, the batch's strains split among up to `batch_threads` engine
# processes side by side; a TARVEL program given as `tarvel` runs once per
# strain instead, that many at once. Values in runs/, apart from the
# checkpoint's folder; a batch's done file lists its strains once all their
# values are in place and read back complete.


def batch_strains(wildcards):
    """Number of strains in this batch."""
    return len(paths.batch_members(prepared_panel().strains, int(wildcards.batch), BATCH_SIZE))


def chromosome_runs(chrom_safe):
    """The files the collect step of a chromosome takes as input: the done
    file of each of its batches. Its strains' values are then at
    runs/chr<c>/<strain>/strain.values (paths.values_file). Unless
    keep_runs is set, the done files are temporary and the runs are
    removed once the chromosome is collected (rule drop_runs)."""
    batches = paths.batch_count(len(prepared_panel().strains), BATCH_SIZE)
    return [paths.batch_file(RUNS, chrom_safe, k) for k in range(batches)]


def batch_threads(wildcards):
    return max(1, min(BATCH_THREADS, batch_strains(wildcards)))


# memory and time of a batch (formulas in config.yaml); a job resubmitted
# after a failure (--restart-times) asks for twice, three times, ... as much
def batch_mem_mb(wildcards, threads, attempt):
    per_process = float(config["mem_mb_per_process"]) + \
        prepared_panel().markers_count(wildcards.chr) * float(config["mem_kb_per_marker"]) / 1024
    return attempt * math.ceil(float(config["mem_mb_base"]) + threads * per_process)


def batch_runtime(wildcards, threads, attempt):
    rounds = math.ceil(batch_strains(wildcards) / threads)
    minutes = rounds * prepared_panel().markers_count(wildcards.chr) * float(config["runtime_ms_per_marker"]) / 60000
    return attempt * max(int(config["runtime_min_minutes"]), math.ceil(minutes))


# kept runs hold TARVEL's results text too, as the engine writes it
KEEP_TEXT = " --keep-runs" if KEEP_RUNS else ""


def done_file(path):
    return path if KEEP_RUNS else temp(path)


rule tarvel:
    input: PREPARED
    output: done_file(paths.batch_file(RUNS, "{chr}", "{batch}"))
    log: log_of("tarvel", "batches", "chr{chr}", "{batch}")
    threads: batch_threads
    resources:
        mem_mb=batch_mem_mb,
        runtime=batch_runtime,
    shell:
        "{PY} batch {RUNNER} --out {OUT:q} --chr {wildcards.chr:q} --batch {wildcards.batch:q}"
        " --batch-size {BATCH_SIZE} --threads {threads} --done {output:q}{KEEP_TEXT} > {log:q}"


def dropped_marker(chrom_safe):
    return paths.dropped_file(RUNS, chrom_safe)


def collected(wildcards):
    """The lasting outputs of the chromosome's collect step (not its temporary ones)."""
    return [apply_wildcards(f, wildcards) for f in rules.collect.rule.output if not f.is_temp]


# once a chromosome is collected its raw runs go (unless keep_runs): its
# folder of runs, runs/chr<c>/, holds only its strains' run folders. The
# marker file keeps a rerun from asking for them again
rule drop_runs:
    input:
        collected=collected,
        runs=lambda wildcards: chromosome_runs(wildcards.chr),
    output: touch(dropped_marker("{chr}"))
    log: log_of("drop_runs", "chr{chr}")
    params: folder=lambda wildcards: paths.chromosome_dir(RUNS, wildcards.chr)
    # a plain command, not a run block (Snakemake 7 starts a run block as
    # another Snakemake, a dozen lines in the log for each chromosome) nor an
    # interpreter (half a second a chromosome on a busy machine)
    shell: "rm -rf -- {params.folder:q} > {log:q} 2>&1"
