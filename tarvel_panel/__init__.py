"""Panel tooling around TARVEL: read a whole panel (an R/qtl2 cross, or VCF/BCF
files with a strain table and a genetic map), prepare one TARVEL run per
strain and chromosome, collect the results under marker and founder names,
and draw them."""
import os

# the repository this package is part of: its build/ and workflow/ folders
REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
