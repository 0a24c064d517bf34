"""Panel tooling around TARVEL: read a whole panel (an R/qtl2 cross, or VCF/BCF
files with a strain table and a genetic map), prepare one TARVEL run per
strain and chromosome, collect the results under marker and founder names,
and draw them."""
