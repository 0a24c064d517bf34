# Founder plots (tarvel_panel.plot): each chromosome is painted once for every
# strain, then every strain's mosaic and every chromosome's panel mosaic are
# drawn from the paintings, as PNG and SVG. Off with --config plots=false.

PAINTING = f"{OUT}/plots/painting"


def strain_name(wildcards):
    return next(s["name"] for s in prepared_panel()["strains"] if s["safe"] == wildcards.safe)


def all_paintings(wildcards):
    return [f"{PAINTING}/chr{c['name']}.csv" for c in prepared_panel()["chromosomes"]]


rule plot_paint:
    input: f"{OUT}/genoprobs/chr{{chr}}.csv.gz"
    output: f"{PAINTING}/chr{{chr}}.csv"
    resources: mem_mb=1000, runtime=30
    shell: "{PY}.plot paint --out {OUT:q} --chr {wildcards.chr:q} -o {output:q}"


rule plot_strain:
    input: all_paintings
    output:
        png=f"{OUT}/plots/strains/{{safe}}.png",
        svg=f"{OUT}/plots/strains/{{safe}}.svg",
    params: name=strain_name
    resources: mem_mb=500, runtime=10
    shell:
        "{PY}.plot strain --out {OUT:q} --painting {PAINTING:q} --strain {params.name:q}"
        " -o {OUT:q}/plots/strains/{wildcards.safe:q}"


rule plot_panel:
    input: f"{PAINTING}/chr{{chr}}.csv"
    output:
        png=f"{OUT}/plots/panel_chr{{chr}}.png",
        svg=f"{OUT}/plots/panel_chr{{chr}}.svg",
    resources: mem_mb=500, runtime=10
    shell:
        "{PY}.plot panel --out {OUT:q} --painting {PAINTING:q} --chr {wildcards.chr:q}"
        " -o {OUT:q}/plots/panel_chr{wildcards.chr:q}"
