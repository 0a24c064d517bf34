# Input files as a run sees them: refusals after the header, warnings that
# let the run go on, the founder count and the funnel check.
source "$2/support/e2e_lib.sh"
cp "$DATA"/driver/* .

PROGRESS=$'Computing Emission Prob\nComputing Alpha\nComputing Beta\nWriting Results\n'
FUNNEL=$'Error: the funnel file must list each founder number from 1 to 8 exactly once.\n'

# header FOUNDERS STRAIN FUNNEL POSITIONS: sets H for "#Generation 6, -cm"
header() {
  printf -v H '#Generation: 6\nCoding Bit-Length: 8\n#States: 256\n%s|\n%s|\n%s.prob|\n%s|\n%s|\n' \
    "$1" "$2" "$2" "$3" "$4"
}
loaded() { printf -v LD ' L = %s , NoOfFounders = %s\n' "$1" "$2"; }

# go EXPECTED-STATUS OUTPUT FOUNDERS STRAIN FUNNEL POSITIONS
go() {
  local rc=$1 want=$2; shift 2
  rm -f ./*.prob
  run "$1" "$2" "$3" 6 -cm "$4"
  expect_eq "output with [$*]" "$want" "$OUT"
  expect_eq "status with [$*]" "$rc" "$RC"
  expect_no_stderr
  if [ "$rc" = 1 ]; then
    local p; for p in *.prob; do [ -e "$p" ] && fail "[$*] left $p behind"; done
  else
    [ -s "$2.prob" ] || fail "[$*] wrote no $2.prob"
  fi
}
# refuse OUTPUT-AFTER-HEADER FOUNDERS STRAIN FUNNEL POSITIONS
refuse() { header "$2" "$3" "$4" "$5"; go 1 "$H$1" "$2" "$3" "$4" "$5"; }
# complete OUTPUT-BEFORE-PROGRESS FOUNDERS STRAIN FUNNEL POSITIONS
complete() { header "$2" "$3" "$4" "$5"; go 0 "$H$1$PROGRESS" "$2" "$3" "$4" "$5"; }

loaded 3 8; L3=$LD
complete "$L3" founders.txt strain.txt funnel.txt pos_cm.txt
complete "$L3" founders.txt strain.txt funnel_lines.txt pos_cm.txt
printf '8 7 6 5\n4 3 2 1 1 1 junk\n' > funnel_extra.txt
complete "$L3" founders.txt strain.txt funnel_extra.txt pos_cm.txt

# The results file sits next to the strain file, under its full name
mkdir sub && cp strain.txt sub/
complete "$L3" founders.txt sub/strain.txt funnel.txt pos_cm.txt
expect_absent strain.txt.prob

# Files that cannot be opened, named in the message where the load names them
refuse "Error in opening Founder file for reading" nofounders.txt strain.txt funnel.txt pos_cm.txt
refuse $'Error in opening Sequence file for reading:nostrain.txt\n' \
  founders.txt nostrain.txt funnel.txt pos_cm.txt
refuse "${L3}Error in opening Funnel file for reading:nofunnel.txt"$'\n' \
  founders.txt strain.txt nofunnel.txt nopos.txt
refuse "${L3}Error in opening CM Distance File for reading:nopos.txt"$'\n' \
  founders.txt strain.txt funnel.txt nopos.txt

# Marker positions
printf '10.5\n\n9.5\n12\n' > unsorted.txt
refuse "${L3}The data in Distance File is not sorted"$'\n' founders.txt strain.txt funnel.txt unsorted.txt
printf '10.5\r\n\r\n12\r\n' > crlf.txt
refuse "${L3}Error: cannot read a position from line 2 of the marker position file."$'\n' \
  founders.txt strain.txt funnel.txt crlf.txt
# Not a number, an infinity in any spelling "%f" takes, or a value beyond
# single precision: no position, wherever it stands (where sorting would not
# catch it: first, last, or beside anything for a not-a-number)
for v in nan NaN -nan 'nan(7)' inf +Inf INFINITY 1e39 3.4028236e38; do
  printf '10.5\n\n12\n%s\n' "$v" > notfinite.txt
  refuse "${L3}Error: cannot read a position from line 4 of the marker position file."$'\n' \
    founders.txt strain.txt funnel.txt notfinite.txt
done
for v in -inf -Infinity -1e39; do
  printf '%s\n10.5\n12\n' "$v" > notfinite.txt
  refuse "${L3}Error: cannot read a position from line 1 of the marker position file."$'\n' \
    founders.txt strain.txt funnel.txt notfinite.txt
done
printf '10.5\n12\n3.4e38\n' > largest.txt # the largest float is still a position
complete "$L3" founders.txt strain.txt funnel.txt largest.txt
printf '10.5\n12\n' > short.txt
refuse "${L3}Error: the marker position file holds 2 positions for 3 markers."$'\n' \
  founders.txt strain.txt funnel.txt short.txt

# Inconsistent line counts warn and the run goes on
printf '0\n1\n' > strain_short.txt
complete "Error: input genotype file corrupted."$'\n'"$L3" founders.txt strain_short.txt funnel.txt pos_cm.txt
printf '0 0 1 1 0 1 0 1\n0 -1 1 1 0 1 0\n1 1 0 0 1 0 1 0 1\n' > founders_ragged.txt
complete "Error: input founder data corrupted."$'\n'"Error: input founder data corrupted."$'\n'"$L3" \
  founders_ragged.txt strain.txt funnel.txt pos_cm.txt

# Eight founders only; that check comes before the funnel check
loaded 3 4
refuse "${LD}The current version only supports 8 founders." founders4.txt strain.txt funnel.txt pos_cm.txt
printf '1 1 1 1\n' > funnel_bad.txt
refuse "${LD}The current version only supports 8 founders." founders4.txt strain.txt funnel_bad.txt pos_cm.txt

# The funnel names each founder 1 to 8 exactly once among its first eight integers
for funnel in "1 2 3 4 5 6 7 7" "1 2 3 4 5 6 7" "0 1 2 3 4 5 6 7" "2 3 4 5 6 7 8 9" \
  "1 2 3 x 5 6 7 8" "-1 2 3 4 5 6 7 8" "1 2 3 4 5 6 7 99999999999" ""; do
  printf '%s\n' "$funnel" > funnel_bad.txt
  refuse "$L3$FUNNEL" founders.txt strain.txt funnel_bad.txt pos_cm.txt
done

finish
