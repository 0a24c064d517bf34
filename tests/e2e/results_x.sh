# X-chromosome results: male (one X) and female (two X) strains, before and
# after the strain is modelled as inbred (#Generation 5 / 6), both layouts.
source "$2/support/e2e_lib.sh"
source "$TESTS/support/results_e2e.sh"

ONE=("$RDATA/one_founders.txt")       # one marker; founders 2 and 5 carry allele 1
ONEPOS=(-cm "$RDATA/one_positions.txt")
SIX=("$RDATA/six_founders.txt")
SIXPOS=(-cm "$RDATA/six_positions_cm.txt")
ORDERED=$RDATA/funnel_ordered.txt     # 1 2 3 4 5 6 7 8
MIXED=$RDATA/funnel_mixed.txt         # 3 1 4 2 8 5 7 6
cp "$RDATA/six_strain.txt" six.txt
# HAPPY indexes of the 28 pairs of two different founders
OFF_DIAGONAL=()
for ((a = 2; a <= 8; a++)); do
  for ((b = 1; b < a; b++)); do OFF_DIAGONAL+=($((a * (a - 1) / 2 + b))); done
done

# --- Male: eight single-founder entries in funnel order, also after
# #Generation 6; the founders at funnel positions 4, 7 and 8 (here 2, 7
# and 6) pass on no X in the funnel and never receive probability.
for gen in 3 5 6 20; do
  run "${SIX[@]}" six.txt "$MIXED" $gen "${SIXPOS[@]}" -x -of 0
  expect_rc 0
  expect_shape six.txt.prob 6 single8
  expect_eq "male #Generation $gen labels" "(3) (1) (4) (2) (8) (5) (7) (6)" "$(labels six.txt.prob 0)"
  expect_lines_sum six.txt.prob 1
  expect_zero six.txt.prob "male founder at funnel position 4, 7 or 8" 4 7 8

  run "${SIX[@]}" six.txt "$MIXED" $gen "${SIXPOS[@]}" -x -s m
  expect_shape six.txt.prob 6 happy
  expect_lines_sum six.txt.prob 1
  expect_zero six.txt.prob "male pair of two founders" "${OFF_DIAGONAL[@]}"
  expect_zero six.txt.prob "male founder 2, 6 or 7" 3 21 28
done

# One marker called "2", #Generation 6: a uniform prior over the eight
# founders times the emission; founders 2 and 5 carry the allele.
strain hom.txt 2
run "${ONE[@]}" hom.txt "$ORDERED" 6 "${ONEPOS[@]}" -x -s M
expect_rc 0
expect_eq "male (2,2)" "$(calc "$AGREE / (2 * $AGREE + 6 * $DISAGREE)")" "$(happy hom.txt.prob 0 2 2)"
expect_eq "male (5,5)" "$(calc "$AGREE / (2 * $AGREE + 6 * $DISAGREE)")" "$(happy hom.txt.prob 0 5 5)"
expect_eq "male (1,1)" "$(calc "$DISAGREE / (2 * $AGREE + 6 * $DISAGREE)")" "$(happy hom.txt.prob 0 1 1)"
# A male carries one X: a heterozygous call fits no founder and says nothing.
strain het.txt 1
run "${ONE[@]}" het.txt "$ORDERED" 6 "${ONEPOS[@]}" -x -of 0
expect_eq "male, heterozygous call" "0|(1),0.125|(2),0.125|(3),0.125|(4),0.125|(5),0.125|(6),0.125|(7),0.125|(8),0.125|" "$(cat het.txt.prob)"

# --- Female: the labelled layout has the autosome's 64 / 36 entries.
for gen in 3 5; do
  run "${SIX[@]}" six.txt "$MIXED" $gen "${SIXPOS[@]}" -x -s F -of 0
  expect_rc 0
  expect_shape six.txt.prob 6 pairs64
  expect_lines_sum six.txt.prob 1
  # entries of founders 2, 7 and 6 (funnel positions 4, 7 and 8): rows and columns 4, 7, 8
  zero=()
  for ((i = 0; i < 8; i++)); do zero+=($((8 * 3 + i + 1)) $((8 * 6 + i + 1)) $((8 * 7 + i + 1)) $((8 * i + 4)) $((8 * i + 7)) $((8 * i + 8))); done
  expect_zero six.txt.prob "female founder 2, 7 or 6" "${zero[@]}"
  run "${SIX[@]}" six.txt "$MIXED" $gen "${SIXPOS[@]}" -x -s F
  expect_shape six.txt.prob 6 happy
done

# From #Generation 6 on only the founders at funnel positions 1 and 2 (here
# 3 and 1) receive probability: (3,3) (1,3) (1,1) are the entries 1, 2, 4.
run "${SIX[@]}" six.txt "$MIXED" 6 "${SIXPOS[@]}" -x -s f -of 0
expect_rc 0
expect_shape six.txt.prob 6 pairs36
expect_zero six.txt.prob "female, founders past funnel position 2" 3 $(seq 5 36)
run "${SIX[@]}" six.txt "$MIXED" 6 "${SIXPOS[@]}" -x -s female
expect_shape six.txt.prob 6 happy
# HAPPY: (1,1) (3,1) (3,3) are the values 1, 4, 6
expect_zero six.txt.prob "female, founders past funnel position 2" 2 3 5 $(seq 7 36)

# One uninformative marker: the uniform prior over the four combinations of
# funnel positions 1 and 2; a pair of two founders shows twice one
# orientation, 2 x 0.25.
strain n.txt N
run "${ONE[@]}" n.txt "$ORDERED" 6 "${ONEPOS[@]}" -x -s F
expect_eq "female prior" "0|0.25,0.5,0.25,$(printf '0,%.0s' {1..33})" "$(cat n.txt.prob)"

# A female pair of two different founders is written as twice the one cell
# whose second copy holds the smaller founder number. Two heterozygous calls
# between founders 1 and 2: the model allows the first copy only at funnel
# position 2 when the copies differ, so with founder 2 there the HAPPY value
# is close to 2, and with founder 1 there (funnel 2 1 ...) it is 0.
printf '0 1 0 0 0 0 0 0\n0 1 0 0 0 0 0 0\n' >two_founders.txt
printf '1.0\n2.0\n' >two_positions.txt
strain two.txt 1 1
run two_founders.txt two.txt "$ORDERED" 6 -cm two_positions.txt -x -s F
expect_rc 0
awk -F'[|,]' '$3 > 1.99 && $3 <= 2 { n++ } END { exit n != 2 }' two.txt.prob || fail "female (2,1) is not ~2 at both markers: $(cat two.txt.prob)"
echo "2 1 3 4 5 6 7 8" >swapped.txt
run two_founders.txt two.txt swapped.txt 6 -cm two_positions.txt -x -s F
expect_zero two.txt.prob "female (2,1) with founder 1 at position 2" 2

finish
