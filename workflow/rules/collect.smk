# TARVEL's results joined to strain, marker and founder names.


# a chromosome's parts sit beside its folder of runs, so no strain's folder can clash with them
def chromosome_parts(name):
    def parts(wildcards):
        return [f"{RUNS}/chr{c['safe']}.{name}" for c in prepared_panel()["chromosomes"]]
    return parts


rule collect:
    input:
        prepared=PREPARED,
        results=lambda wildcards: chromosome_runs(wildcards.chr),
    output:
        genoprobs=f"{OUT}/genoprobs/chr{{chr}}.csv.gz",
        founderprobs=f"{OUT}/founderprobs/chr{{chr}}.csv.gz",
        mosaic=f"{RUNS}/chr{{chr}}.mosaic.csv",
        summary=f"{RUNS}/chr{{chr}}.summary.tsv",
    shell:
        "{PY}.collect chromosome --prepared {input.prepared:q} --runs {RUNS:q} --chr {wildcards.chr:q}"
        " --genoprobs {output.genoprobs:q} --founderprobs {output.founderprobs:q}"
        " --mosaic {output.mosaic:q} --summary {output.summary:q}"


rule join:
    input:
        mosaic=chromosome_parts("mosaic.csv"),
        summary=chromosome_parts("summary.tsv"),
    output:
        mosaic=f"{OUT}/mosaic.csv",
        summary=f"{OUT}/summary.tsv",
    shell:
        "{PY}.collect join --mosaic {output.mosaic:q} --summary {output.summary:q}"
        " --mosaic-parts {input.mosaic:q} --summary-parts {input.summary:q}"
