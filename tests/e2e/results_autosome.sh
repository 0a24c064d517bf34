# Autosome results: HAPPY and labelled layouts before and after the strain
# is modelled as inbred (#Generation 5 / 6), values checked by hand on one
# marker, positions in cM and bp, the funnel order, the file being replaced.
source "$2/support/e2e_lib.sh"
source "$TESTS/support/results_e2e.sh"

ONE=("$RDATA/one_founders.txt")       # one marker; founders 2 and 5 carry allele 1
ONEPOS=(-cm "$RDATA/one_positions.txt")
ORDERED=$RDATA/funnel_ordered.txt     # 1 2 3 4 5 6 7 8
MIXED=$RDATA/funnel_mixed.txt         # 3 1 4 2 8 5 7 6
SIX=("$RDATA/six_founders.txt")
carries() { [ "$1" == 2 ] || [ "$1" == 5 ]; }
# position of founder F in a funnel file (0-based)
position() { tr -s ' \n' '\n\n' <"$1" | grep -n -x "$2" | cut -d: -f1 | awk '{ print $1 - 1 }'; }

# --- #Generation 5, one heterozygous marker. Not yet inbred: the first copy
# comes from funnel positions 1-4, the second from 5-8, each of the 16 pairs
# with prior 1/16. The posterior of a pair is its emission over the sum of
# all 16 emissions; 6 pairs hold exactly one carrier and explain the call.
strain het.txt 1
run "${ONE[@]}" het.txt "$ORDERED" 5 "${ONEPOS[@]}"
expect_rc 0
expect_no_stderr
expect_eq "progress lines" "Computing Emission Prob
Computing Alpha
Computing Beta
Writing Results" "$(tail -n 4 <<<"${OUT%$'\n'}")"
expect_shape het.txt.prob 1 happy
fits=$(calc "$AGREE / (6 * $AGREE + 10 * $DISAGREE)")
misfits=$(calc "$DISAGREE / (6 * $AGREE + 10 * $DISAGREE)")
expect_eq "hand-computed fit" 0.166389 "$fits"
want="0|"
for a in 1 2 3 4 5 6 7 8; do
  for ((b = 1; b <= a; b++)); do
    if ((a <= 4 || b >= 5)); then want+="0,"; continue; fi
    if carries $a; then ca=1; else ca=0; fi
    if carries $b; then cb=1; else cb=0; fi
    if ((ca != cb)); then want+="$fits,"; else want+="$misfits,"; fi
  done
done
expect_eq "#Generation 5, one het marker, HAPPY line" "$want" "$(cat het.txt.prob)"
cp het.txt.prob happy_default.prob
run "${ONE[@]}" het.txt "$ORDERED" 5 "${ONEPOS[@]}" -of 1
cmp -s het.txt.prob happy_default.prob || fail "-of 1 differs from the default layout"

# Labelled layout, error rate 1e-05: 64 entries "(column founder,row founder),
# value|" in funnel order; the misfitting pairs fall below 0.0001 and are
# written in scientific notation.
agree=0.9999899864196777 disagree=9.999999747378752e-06 # 1 - 1e-05 and 1e-05 as stored
fits=$(calc "$agree / (6 * $agree + 10 * $disagree)")
misfits=$(calc "$disagree / (6 * $agree + 10 * $disagree)")
expect_eq "scientific notation" 1.66666e-06 "$misfits"
run "${ONE[@]}" het.txt "$ORDERED" 5 "${ONEPOS[@]}" -e 0.00001 -of 0
expect_rc 0
expect_shape het.txt.prob 1 pairs64
want="0|"
for r in 1 2 3 4 5 6 7 8; do
  for c in 1 2 3 4 5 6 7 8; do
    v=0
    if ((r <= 4 && c >= 5)); then
      if carries $r; then cr=1; else cr=0; fi
      if carries $c; then cc=1; else cc=0; fi
      if ((cr != cc)); then v=$fits; else v=$misfits; fi
    fi
    want+="($c,$r),$v|"
  done
done
expect_eq "#Generation 5, labelled line" "$want" "$(cat het.txt.prob)"
cp het.txt.prob labelled0.prob
for of in 2 abc -1; do
  run "${ONE[@]}" het.txt "$ORDERED" 5 "${ONEPOS[@]}" -e 0.00001 -of $of
  cmp -s het.txt.prob labelled0.prob || fail "-of $of does not give the labelled layout"
done

# --- #Generation 6 and 8, one uninformative marker ("N"): the posterior is
# the prior. The inbreeding coefficient F of full-sib mating (F = 0.5 at
# #Generation 6, 0.671875 at 8) lies on the eight founders paired with
# themselves (F/8 each), 1 - F on the 48 ordered pairs of founders from
# different first-generation crosses; the two founders of one cross never pair.
strain n.txt N
for gen in 6 8; do
  F=$(awk -v g=$((gen - 2)) 'BEGIN { a = 0; b = 0; for (i = 2; i <= g; i++) { c = (1 + 2 * b + a) / 4; a = b; b = c } print b }')
  for funnel in "$ORDERED" "$MIXED"; do
    run "${ONE[@]}" n.txt "$funnel" $gen "${ONEPOS[@]}"
    expect_rc 0
    want="0|"
    for a in 1 2 3 4 5 6 7 8; do
      for ((b = 1; b <= a; b++)); do
        pa=$(position "$funnel" $a) pb=$(position "$funnel" $b)
        if ((a == b)); then want+="$(calc "$F / 8"),"
        elif ((pa / 2 == pb / 2)); then want+="0,"
        else want+="$(calc "2 * (1 - $F) / 48"),"; fi
      done
    done
    expect_eq "#Generation $gen prior in founder order, funnel $(cat "$funnel")" "$want" "$(cat n.txt.prob)"
  done
done
expect_zero n.txt.prob "founders 3 and 1, crossed first" 4

# Labelled layout, funnel 3 1 4 2 8 5 7 6: 36 entries following the funnel
# positions, the smaller founder first off the diagonal, with twice the cell.
run "${ONE[@]}" n.txt "$MIXED" 6 "${ONEPOS[@]}" -of 0
expect_rc 0
expect_shape n.txt.prob 1 pairs36
expect_eq "labels in funnel order" "(3,3) (1,3) (2,3) (1,1) (3,4) (1,4) (4,4) (2,4) (1,2) (2,2) \
(3,8) (1,8) (4,8) (2,8) (8,8) (5,8) (7,8) (6,8) (3,5) (1,5) (4,5) (2,5) (5,5) (3,7) (1,7) (4,7) \
(2,7) (5,7) (7,7) (6,7) (3,6) (1,6) (4,6) (2,6) (5,6) (6,6)" "$(labels n.txt.prob 0)"
expect_eq "(3,3)" 0.0625 "$(values n.txt.prob 0 | sed -n 1p)"
expect_eq "(1,3): one cross" 0 "$(values n.txt.prob 0 | sed -n 2p)"
expect_eq "(2,3): twice 1/96" "$(calc "2 / 96")" "$(values n.txt.prob 0 | sed -n 3p)"

# --- #Generation 6, one marker called "2": only founders 2 and 5 carry the
# allele. Prior x emission, normalised.
strain hom.txt 2
S="((2 * $AGREE + 6 * $DISAGREE) / 16 + (2 * $AGREE + 46 * $DISAGREE) / 96)"
run "${ONE[@]}" hom.txt "$MIXED" 6 "${ONEPOS[@]}"
expect_rc 0
expect_eq "(2,2)" "$(calc "$AGREE / 16 / $S")" "$(happy hom.txt.prob 0 2 2)"
expect_eq "(5,2)" "$(calc "2 * $AGREE / 96 / $S")" "$(happy hom.txt.prob 0 5 2)"
expect_eq "(1,1)" "$(calc "$DISAGREE / 16 / $S")" "$(happy hom.txt.prob 0 1 1)"
expect_eq "(6,1)" "$(calc "2 * $DISAGREE / 96 / $S")" "$(happy hom.txt.prob 0 6 1)"
expect_lines_sum hom.txt.prob 1

# --- Six markers (one "N", two at the same position): shapes, sums, and the
# same results from positions in bp as in cM (one megabase = one cM).
cp "$RDATA/six_strain.txt" six.txt
for gen in 5 6 20; do
  run "${SIX[@]}" six.txt "$MIXED" $gen -cm "$RDATA/six_positions_cm.txt"
  expect_rc 0
  expect_shape six.txt.prob 6 happy
  expect_lines_sum six.txt.prob 1
  cp six.txt.prob six_cm.prob
  run "${SIX[@]}" six.txt "$MIXED" $gen -bp "$RDATA/six_positions_bp.txt"
  cmp -s six.txt.prob six_cm.prob || fail "#Generation $gen: -bp and -cm results differ"
  # The "N" marker sits at the position of the marker before it and takes
  # over that marker's posterior.
  diff=$(paste <(values six.txt.prob 1) <(values six.txt.prob 2) |
    awk '{ d = $1 - $2; if (d < 0) d = -d; if (d > m) m = d } END { print (m < 1e-4) ? "close" : m }')
  expect_eq "#Generation $gen: N marker next to its neighbour" close "$diff"

  run "${SIX[@]}" six.txt "$MIXED" $gen -cm "$RDATA/six_positions_cm.txt" -of 0
  if ((gen <= 5)); then
    expect_shape six.txt.prob 6 pairs64
    expect_lines_sum six.txt.prob 1
    # only first copy at positions 1-4 with second copy at positions 5-8
    zero=()
    for ((r = 0; r < 8; r++)); do
      for ((c = 0; c < 8; c++)); do ((r < 4 && c >= 4)) || zero+=($((8 * r + c + 1))); done
    done
    expect_zero six.txt.prob "cell outside rows 1-4 x columns 5-8" "${zero[@]}"
  else
    expect_shape six.txt.prob 6 pairs36
    expect_zero six.txt.prob "founders crossed first" 2 8 16 30
  fi
done

# --- An existing results file is replaced, not appended to.
seq 1 20 >six.txt.prob
run "${SIX[@]}" six.txt "$ORDERED" 8 -cm "$RDATA/six_positions_cm.txt"
expect_rc 0
expect_shape six.txt.prob 6 happy

finish
