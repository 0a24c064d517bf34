"""An R script for the tests: the per-chromosome R/qtl2 objects joined in base R."""

# R/qtl2's cbind for calc_genoprob objects, in base R: the chromosomes' lists
# concatenated, is_x_chr joined, the other attributes (equal in all) kept
JOIN = r"""
objects <- lapply(commandArgs(TRUE)[-1], readRDS)
first <- objects[[1]]
joined <- do.call(c, lapply(objects, unclass))
for (a in c("crosstype", "is_female", "alleles", "alleleprobs", "founder_names")) {
    stopifnot(all(vapply(objects, function(o) identical(attr(o, a), attr(first, a)), TRUE)))
    attr(joined, a) <- attr(first, a)
}
attr(joined, "is_x_chr") <- unlist(lapply(objects, attr, "is_x_chr"))
class(joined) <- class(first)
whole <- readRDS(commandArgs(TRUE)[1])
cat(identical(joined, whole), identical(names(joined), names(whole)), "\n")
for (o in objects) cat(names(o), sort(names(attributes(o))), "\n")
cat(attr(whole, "is_female"), names(attr(whole, "is_female")), "\n")
"""
