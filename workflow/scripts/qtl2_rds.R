# Writes one R/qtl2 object as .rds, of the whole panel or (given one
# chromosome's parts) of one chromosome, from the chromosomes' binary parts
# that the collect step writes (layout: tarvel_panel/collect/qtl2_parts.py);
# run by `python3 -m tarvel_panel qtl2`, which finds the parts. Of one
# chromosome the object is what R/qtl2's calc_genoprob gives for one: the
# same attributes, so that R/qtl2's cbind joins them and scan1 takes each.
#   Rscript qtl2_rds.R alleleprobs OUT.rds INDEX1 VALUES1 INDEX2 VALUES2 ...
#   Rscript qtl2_rds.R genoprobs   OUT.rds INDEX1 VALUES1 ...
#   Rscript qtl2_rds.R alleleprobs|genoprobs OUT.rds CHR1.rds CHR2.rds ...  (joined)
#   Rscript qtl2_rds.R pmap|gmap   OUT.rds INDEX1 INDEX2 ...
# Base R only, and not even R's default packages (run with
# --default-packages=NULL, which starts R in a third of the time). The file appears under its name only when complete: it is
# written as .NAME.tmp-PID beside it and renamed (an interrupt removes the
# temporary file; after a kill, the next run's python3 -m tarvel_panel qtl2 does).

MAGIC <- "tarvel-qtl2 4"

fail <- function(path, message) stop(paste0(path, ": ", message), call. = FALSE)

# stats::setNames, which R's default packages would bring
setNames <- function(object, nm) {
    names(object) <- nm
    object
}

read_index <- function(path) {
    con <- file(path, "rb")
    on.exit(close(con))
    counts <- readBin(con, "integer", 4, size = 4, endian = "little")
    if (length(counts) != 4) fail(path, "not a collect index file (too short)")
    lengths <- readBin(con, "integer", counts[4], size = 4, endian = "little")
    texts <- if (length(lengths)) readChar(con, lengths, useBytes = TRUE) else character(0)
    if (length(texts) != counts[4] || any(is.na(texts)) || texts[1] != MAGIC)
        fail(path, "not a collect index file")
    Encoding(texts) <- "UTF-8"
    s <- counts[1]; m <- counts[2]; k <- counts[3]
    if (counts[4] != 3 + k + 2 * s + 52 + m) fail(path, "not a collect index file (its counts disagree)")
    at <- 3 + k
    strains <- texts[at + seq_len(s)]
    at <- at + s
    index <- list(path = path, chromosome = texts[2], is_x = texts[3] == "TRUE", map_names = texts[seq_len(k) + 3],
                  strains = strains, is_female = setNames(texts[at + seq_len(s)] == "TRUE", strains),
                  alleles = texts[at + s + 1:8],
                  founder_names = texts[at + s + 8 + 1:8], pair_names = texts[at + s + 16 + 1:36],
                  markers = texts[at + s + 52 + seq_len(m)], maps = list())
    for (name in index$map_names) {
        positions <- readBin(con, "double", m, size = 8, endian = "little")
        if (length(positions) != m) fail(path, paste("the", name, "positions end early"))
        index$maps[[name]] <- positions
    }
    index
}

# strains x genotypes x markers; the file holds each strain's [markers, genotypes] block
read_probs <- function(path, index, genotypes) {
    s <- length(index$strains); m <- length(index$markers); g <- length(genotypes)
    probs <- array(0, c(s, g, m), dimnames = list(index$strains, genotypes, index$markers))
    con <- file(path, "rb")
    on.exit(close(con))
    for (i in seq_len(s)) {
        block <- readBin(con, "double", g * m, size = 8, endian = "little")
        if (length(block) != g * m) fail(path, sprintf("ends within strain %d of %d", i, s))
        probs[i, , ] <- block
    }
    if (length(readBin(con, "raw", 1))) fail(path, "holds more than its strains' values")
    probs
}

named_by_chromosome <- function(items, indexes) {
    chromosomes <- vapply(indexes, function(x) x$chromosome, "")
    names(items) <- chromosomes
    attr(items, "is_x_chr") <- setNames(vapply(indexes, function(x) x$is_x, TRUE), chromosomes)
    items
}

genoprob_object <- function(kind, files) {
    if (length(files) %% 2) stop("index and values files go in pairs", call. = FALSE)
    indexes <- lapply(files[c(TRUE, FALSE)], read_index)
    values <- files[c(FALSE, TRUE)]
    alleles <- indexes[[1]]$alleles
    probs <- vector("list", length(indexes))
    for (i in seq_along(indexes)) {
        genotypes <- if (kind == "alleleprobs") alleles else indexes[[i]]$pair_names
        probs[[i]] <- read_probs(values[i], indexes[[i]], genotypes)
    }
    probs <- named_by_chromosome(probs, indexes)
    attr(probs, "crosstype") <- "risib8"
    attr(probs, "is_female") <- indexes[[1]]$is_female
    attr(probs, "alleles") <- alleles
    # the names tables and figures show, by allele (A = "AJ", ...)
    attr(probs, "founder_names") <- setNames(indexes[[1]]$founder_names, alleles)
    attr(probs, "alleleprobs") <- kind == "alleleprobs"
    class(probs) <- c("calc_genoprob", "list")
    probs
}

# the whole panel's object from the chromosomes' own (what genoprob_object
# makes of all the parts at once, in less time: no value is read twice)
joined_object <- function(files) {
    objects <- lapply(files, readRDS)
    first <- objects[[1]]
    probs <- lapply(objects, function(x) x[[1]])
    names(probs) <- vapply(objects, names, "")
    attr(probs, "is_x_chr") <- unlist(lapply(objects, function(x) attr(x, "is_x_chr")))
    for (name in c("crosstype", "is_female", "alleles", "founder_names", "alleleprobs"))
        attr(probs, name) <- attr(first, name)
    class(probs) <- class(first)
    probs
}

map_object <- function(kind, files) {
    indexes <- lapply(files, read_index)
    positions <- lapply(indexes, function(x) {
        if (is.null(x$maps[[kind]])) fail(x$path, paste0("chromosome ", x$chromosome, " has no ", kind))
        setNames(x$maps[[kind]], x$markers)
    })
    named_by_chromosome(positions, indexes)
}

save_atomic <- function(object, out) {
    tmp <- file.path(dirname(out), paste0(".", basename(out), ".tmp-", Sys.getpid()))
    ok <- FALSE
    on.exit(if (!ok) unlink(tmp))
    # uncompressed: gzip takes 8-byte probabilities only about a tenth
    # smaller, at a dozen seconds for a CC-sized panel against one
    tryCatch(saveRDS(object, tmp, compress = FALSE), error = function(e) fail(out, conditionMessage(e)))
    if (!file.rename(tmp, out)) fail(out, "cannot be written")
    ok <- TRUE
}

main <- function(args) {
    if (length(args) < 3) stop("usage: qtl2_rds.R alleleprobs|genoprobs|pmap|gmap OUT.rds PARTS...", call. = FALSE)
    kind <- args[1]; out <- args[2]; files <- args[-(1:2)]
    object <- switch(kind,
                     alleleprobs = , genoprobs = if (all(grepl("[.]rds$", files))) joined_object(files)
                                                 else genoprob_object(kind, files),
                     pmap = , gmap = map_object(kind, files),
                     stop(paste0("unknown kind '", kind, "'"), call. = FALSE))
    dir.create(dirname(out), showWarnings = FALSE, recursive = TRUE)
    save_atomic(object, out)
}

status <- tryCatch({
    main(commandArgs(trailingOnly = TRUE))
    0L
}, error = function(e) {
    message("error: ", conditionMessage(e))
    1L
})
quit(save = "no", status = status)
