# Runs that end without a results file: the file cannot be created or
# written, or a genotype that no hidden state explains under "-e 0".
source "$2/support/e2e_lib.sh"
source "$TESTS/support/results_e2e.sh"

ONE=("$RDATA/one_founders.txt")   # one marker; founders 2 and 5 carry allele 1
ONEPOS=(-cm "$RDATA/one_positions.txt")
ORDERED=$RDATA/funnel_ordered.txt

# The results file's name is taken by a directory: nothing can be created.
strain s.txt 1
mkdir s.txt.prob
run "${ONE[@]}" s.txt "$ORDERED" 6 "${ONEPOS[@]}"
expect_rc 1
expect_no_stderr
expect_eq "last line" "Writing Results
Error in opening Solution file for writing:s.txt.prob" "$(tail -n 2 <<<"${OUT%$'\n'}")"
[[ "$OUT" == *$'s.txt.prob\n' ]] || fail "message does not end in a line break"
rmdir s.txt.prob

# A device that takes no data: the file opens but the writes fail; the
# partial file is removed.
ln -s /dev/full s.txt.prob
run "${ONE[@]}" s.txt "$ORDERED" 5 "${ONEPOS[@]}" -of 0
expect_rc 1
expect_no_stderr
expect_eq "last line" "Error in writing Solution file:s.txt.prob" "$(tail -n 1 <<<"${OUT%$'\n'}")"
[ -e s.txt.prob ] || [ -L s.txt.prob ] && fail "s.txt.prob left behind"

# With "-e 0" a call that no state explains stops the run at that marker.
printf '0 0 0 0 0 0 0 0\n0 0 0 0 0 0 0 0\n0 0 0 0 0 0 0 0\n' >zero_founders.txt
printf '1\n2\n3\n' >pos3.txt
for gen in 5 6; do
  strain bad0.txt 2 0 0
  run zero_founders.txt bad0.txt "$ORDERED" $gen -cm pos3.txt -e 0
  expect_rc 1
  expect_no_stderr
  expect_eq "#Generation $gen, marker 0" "Error: no hidden state explains the genotypes at marker 0; try a non-zero error rate (-e)." "$(tail -n 1 <<<"${OUT%$'\n'}")"
  [[ "$OUT" != *"Computing Beta"* ]] || fail "backward pass ran after the refusal"
  expect_absent bad0.txt.prob

  strain bad2.txt 0 N 1
  run zero_founders.txt bad2.txt "$ORDERED" $gen -cm pos3.txt -e 0
  expect_rc 1
  expect_eq "#Generation $gen, marker 2" "Error: no hidden state explains the genotypes at marker 2; try a non-zero error rate (-e)." "$(tail -n 1 <<<"${OUT%$'\n'}")"
  expect_absent bad2.txt.prob
done
# A male has one X: a heterozygous call is impossible without errors.
strain male.txt 0 1 0
run zero_founders.txt male.txt "$ORDERED" 6 -cm pos3.txt -x -e 0
expect_rc 1
expect_out_contains "genotypes at marker 1;"
expect_absent male.txt.prob
run zero_founders.txt male.txt "$ORDERED" 4 -cm pos3.txt -x -s M -e 0
expect_rc 1
expect_out_contains "genotypes at marker 1;"

# "-e 0" with genotypes that some state explains runs: the 6 of 16 pairs of
# #Generation 5 with exactly one carrier share the posterior, the rest is 0.
strain het.txt 1
run "${ONE[@]}" het.txt "$ORDERED" 5 "${ONEPOS[@]}" -e 0
expect_rc 0
expect_eq "-e 0, (5,1)" 0.166667 "$(happy het.txt.prob 0 5 1)"
expect_eq "-e 0, (5,2)" 0 "$(happy het.txt.prob 0 5 2)"
expect_lines_sum het.txt.prob 1

finish
