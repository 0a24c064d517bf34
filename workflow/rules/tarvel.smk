# TARVEL in batches: one job runs a batch of `batch_size` strains (0: all) of
# one chromosome (`python3 -m tarvel_panel batch`, run/batch.py): tarvel_engine
# runs them, the batch's strains split among up to `batch_threads` engine
# processes side by side; a TARVEL program given as `tarvel` runs once per
# strain instead, that many at once. Values in runs/, apart from the
# checkpoint's folder; a batch's done file lists its strains once all their
# values are in place and read back complete.


# lint: see common.smk
rule tarvel:
    input: PREPARED
    output: done_file(paths.batch_file(RUNS, "{chr}", "{batch}"))
    log: log_of("tarvel", "batches", "chr{chr}", "{batch}")
    threads: batch_threads
    resources:
        mem_mb=batch_mem_mb,
        runtime=batch_runtime,
    params: py=PY, runner=RUNNER, out=OUT, batch_size=BATCH_SIZE, keep_text=KEEP_TEXT, pairs=PAIRS
    shell:
        "{params.py} batch {params.runner} --out {params.out:q} --chr {wildcards.chr:q} --batch {wildcards.batch:q}"
        " --batch-size {params.batch_size} --threads {threads} --done {output:q}{params.keep_text}{params.pairs} > {log:q}"


# once a chromosome is collected its raw runs go (unless keep_runs): its
# folder of runs, runs/chr<c>/, holds only its strains' run folders. The
# marker file keeps a rerun from asking for them again
# lint: see common.smk
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
