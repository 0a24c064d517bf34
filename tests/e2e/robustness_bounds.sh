# Hostile inputs under a small address-space limit: a line with no end in
# sight is refused at the line bound without being held, and running out of
# memory is refused in one line instead of an abort. No results file either way.
source "$2/support/e2e_lib.sh"
cp "$DATA"/driver/* .

LIMIT=$((64 * 1024 * 1024))
BOUND=1048576 # the longest line read
LIMITED=(prlimit --as=$LIMIT)

# limited ARGS...: run under the limit, ended after a minute if it hangs
limited() {
  OUT=$(timeout 60 "${LIMITED[@]}" "$TARVEL" "$@" 2>"$WORK/.stderr"; echo "rc=$?")
  RC=${OUT##*rc=}
  OUT=${OUT%rc=*}
  ERR=$(cat "$WORK/.stderr")
}

# A sanitizer build reserves far more address space than the limit allows:
# it runs unlimited, and the case that needs the limit is left out.
limited founders.txt strain.txt funnel.txt 6 -cm pos_cm.txt
if [ "$RC" != 0 ] && [[ "$ERR" == *Sanitizer* ]]; then
  echo "note: no address-space limit for this build (a sanitizer build)"
  LIMITED=()
  limited founders.txt strain.txt funnel.txt 6 -cm pos_cm.txt
fi
expect_rc 0
[ -s strain.txt.prob ] || fail "no results file from the small valid run"
mv strain.txt.prob short_results.txt

# refused WHAT-LINE FOUNDERS STRAIN FUNNEL POSITIONS: status 1, output ending
# in "Error: WHAT-LINE is longer than 1048576 bytes.", nothing left behind
refused() {
  rm -f ./*.prob
  limited "$2" "$3" "$4" 6 -cm "$5"
  expect_eq "status for [$1]" 1 "$RC"
  expect_no_stderr
  [[ "$OUT" == *"Error: line $1 is longer than $BOUND bytes."$'\n' ]] ||
    fail "[$1]: output does not end in the over-long line message: $(tail -c 300 <<<"$OUT")"
  local p; for p in *.prob; do [ -e "$p" ] && fail "[$1] left $p behind"; done
}
# accepted FOUNDERS STRAIN FUNNEL POSITIONS: the results of the short files
accepted() {
  rm -f ./*.prob
  limited "$1" "$2" "$3" 6 -cm "$4"
  expect_eq "status for [$*]" 0 "$RC"
  cmp -s "$2.prob" short_results.txt || fail "[$*]: results differ from those of the short lines"
}

# A device that never ends and holds no line feed, as each input in turn
refused "1 of the founder file /dev/zero" /dev/zero strain.txt funnel.txt pos_cm.txt
refused "1 of the strain file /dev/zero" founders.txt /dev/zero funnel.txt pos_cm.txt
refused "1 of the funnel file /dev/zero" founders.txt strain.txt /dev/zero pos_cm.txt
refused "1 of the marker position file /dev/zero" founders.txt strain.txt funnel.txt /dev/zero

# A 50 MB founder line: genotypes and blanks without end
yes '0 1 0 1' | tr '\n' ' ' | head -c 52428800 >big.txt
echo >>big.txt
refused "1 of the founder file big.txt" big.txt strain.txt funnel.txt pos_cm.txt

# Lines of exactly the bound are read as the short ones; one byte more is
# refused, by physical line number (empty lines count)
pad() { printf '%s%*s' "$1" $((BOUND - ${#1} - $2)) ''; } # pad TEXT SHORT-BY
{ head -n 1 founders.txt; pad "$(sed -n 2p founders.txt)" 0; echo; tail -n 1 founders.txt; } >f_bound.txt
{ echo 0; pad 1 0; echo; echo N; } >s_bound.txt
accepted f_bound.txt s_bound.txt funnel.txt pos_cm.txt
{ echo 0; echo; pad 1 -1; echo; echo N; } >s_over.txt
refused "3 of the strain file s_over.txt" founders.txt s_over.txt funnel.txt pos_cm.txt
{ echo 10.5; pad 12.0 -1; echo; echo 12.0; } >p_over.txt
refused "2 of the marker position file p_over.txt" founders.txt strain.txt funnel.txt p_over.txt

# The funnel is read only as far as its eighth number
{ echo '8 7 6 5'; echo '4 3 2 1'; pad x -5; } >n_tail.txt
accepted founders.txt strain.txt n_tail.txt pos_cm.txt
{ echo '8 7 6 5'; pad '4 3 2' -1; echo; echo 1; } >n_over.txt
refused "2 of the funnel file n_over.txt" founders.txt strain.txt n_over.txt pos_cm.txt

# A first line of a million genotypes: the panel is refused once loaded,
# and each line after it costs its own bytes, not a million founders' worth
{ yes 1 | head -n $BOUND | tr -d '\n'; echo; yes '0 1' | head -n 2000; } >wide.txt
rm -f ./*.prob
limited wide.txt strain.txt funnel.txt 6 -cm pos_cm.txt
expect_rc 1
expect_no_stderr
expect_out_contains $'\n L = 2001 , NoOfFounders = 1048576\n'
expect_absent strain.txt.prob

# Lines without end that are short each: memory runs out while the markers
# are counted, and the run says so instead of aborting
if [ ${#LIMITED[@]} -gt 0 ]; then
  rm -f ./*.prob
  limited <(yes '0 1 0 1 1 0 1 0') strain.txt funnel.txt 6 -cm pos_cm.txt
  expect_rc 1
  expect_no_stderr
  [[ "$OUT" == *"Error: the founder file /dev/fd/"*" is too large to be held in memory."$'\n' ]] ||
    fail "endless founder file: output does not end in the memory message: $(tail -c 300 <<<"$OUT")"
  expect_absent strain.txt.prob
fi
finish
