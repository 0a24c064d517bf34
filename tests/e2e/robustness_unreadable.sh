# Input files that open but cannot be read (a directory in place of a file)
# are refused like files that cannot be opened, never read as empty ones.
source "$2/support/e2e_lib.sh"

printf '0 1 0 1 0 1 0 1\n1 1 0 0 1 1 0 0\n' > founders
printf '0\n2\n' > strain
printf '1 2 3 4 5 6 7 8\n' > funnel
printf '1.0\n2.0\n' > positions
mkdir dir

# refused WHAT EXPECTED-LAST-OUTPUT FOUNDERS STRAIN [FUNNEL POSITIONS]: status 1,
# the message last
refused() {
  rm -f ./*.prob
  run "$3" "$4" "${5:-funnel}" 6 -cm "${6:-positions}"
  expect_rc 1
  expect_no_stderr
  [[ "$OUT" == *"$2" ]] || fail "$1: output does not end in [$2]: $OUT"
  expect_absent "$4.prob"
}

# A directory as strain file used to pass for an empty strain file: a
# warning, every marker uninformative, a complete results file and status 0.
refused "strain directory" $'Error in opening Sequence file for reading:dir\n' founders dir
[[ "$OUT" != *"L = "* ]] || fail "strain directory: loading went on: $OUT"
refused "founder directory" 'Error in opening Founder file for reading' dir strain
refused "funnel directory" $'Error in opening Funnel file for reading:dir\n' founders strain dir
refused "position directory" $'Error in opening CM Distance File for reading:dir\n' \
  founders strain funnel dir

# The same files, readable, complete.
run founders strain funnel 6 -cm positions
expect_rc 0
expect_no_stderr
[ -s strain.prob ] || fail "no results file from readable inputs"
finish
