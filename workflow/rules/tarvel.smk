# One TARVEL process per strain and chromosome; results in runs/, apart from
# the checkpoint's folder.


# a job resubmitted after a failure (--restart-times) asks for twice, three times, ... as much
def job_mem_mb(wildcards, attempt):
    markers = chromosome_markers(wildcards.chr)
    return attempt * math.ceil(float(config["mem_mb_base"]) + markers * float(config["mem_kb_per_marker"]) / 1024)


def job_runtime(wildcards, attempt):
    minutes = chromosome_markers(wildcards.chr) * float(config["runtime_ms_per_marker"]) / 60000
    return attempt * max(int(config["runtime_min_minutes"]), math.ceil(minutes))


rule tarvel:
    input: PREPARED
    output: f"{RUNS}/chr{{chr}}/{{safe}}/strain.txt.prob"
    log: f"{OUT}/logs/tarvel/chr{{chr}}/{{safe}}.log"
    resources:
        mem_mb=job_mem_mb,
        runtime=job_runtime,
    shell:
        "{PY}.runjob --tarvel {TARVEL:q} --job {input:q}/chr{wildcards.chr}/{wildcards.safe}"
        " --out {output:q} --log {log:q}"
