# Helpers for the results-file scripts tests/e2e/results_*.sh, sourced after
# e2e_lib.sh. A results file is read as: line t = "t|" then the values, each
# followed by "," (HAPPY layout) or labelled "(a,b),value|" / "(a),value|".
RDATA="$DATA/results"

# Agreement and disagreement emissions as the program stores them (single
# precision) for the default error rate 0.001.
AGREE=0.9990000128746033
DISAGREE=0.0010000000474974513

# strain FILE CALL...: writes a strain file into the working directory, so
# the results file FILE.prob lands there too.
strain() { local f=$1; shift; printf '%s\n' "$@" >"$f"; }

# calc EXPR: EXPR evaluated in double precision, written as the results file
# writes numbers (six significant digits, 1.23e-05 style).
calc() { awk "BEGIN { printf \"%.6g\", $1 }"; }

# values FILE LINE: the values of one line (0-based), one per output line.
values() {
  sed -n "$(($2 + 1))p" "$1" | sed -E 's/^[0-9]+\|//; s/\([0-9,]+\),//g' | tr '|,' '\n\n' |
    sed '/^$/d'
}

# labels FILE LINE: the labels of a labelled line, blank-separated.
labels() { sed -n "$(($2 + 1))p" "$1" | grep -oE '\([0-9,]+\)' | tr '\n' ' ' | sed 's/ $//'; }

# happy FILE LINE A B: the HAPPY value of founders A >= B.
happy() { values "$1" "$2" | sed -n "$(($3 * ($3 - 1) / 2 + $4))p"; }

# expect_shape FILE LINES KIND: exactly LINES lines "0|", "1|", ... each
# holding the entries of KIND and a line break at the end:
# happy (36 values), pairs64, pairs36 (labelled pairs), single8 (male X).
expect_shape() {
  local file=$1 n=$2 num='-?[0-9]+(\.[0-9]+)?(e[-+][0-9]+)?' entries
  case $3 in
    happy) entries="($num,){36}" ;;
    pairs64) entries="(\([1-8],[1-8]\),$num\|){64}" ;;
    pairs36) entries="(\([1-8],[1-8]\),$num\|){36}" ;;
    single8) entries="(\([1-8]\),$num\|){8}" ;;
  esac
  if [ ! -f "$file" ]; then fail "$file was not written"; return; fi
  expect_eq "$file: line count" "$n" "$(wc -l <"$file")"
  [ -z "$(tail -c 1 "$file")" ] || fail "$file: last line lacks its line break"
  local bad
  bad=$(awk -F'|' '$1 != NR - 1 { print "line " NR " starts with " $1; exit }' "$file")
  [ -z "$bad" ] || fail "$file: $bad"
  bad=$(grep -nvE "^[0-9]+\|$entries\$" "$file" | head -n 1)
  [ -z "$bad" ] || fail "$file: not a $3 line: ${bad:0:200}"
}

# AWK_VALUES: awk code that puts the values of the current line into v[1..n].
AWK_VALUES='{ line = $0; sub(/^[0-9]+\|/, "", line); gsub(/\([0-9,]+\),/, "", line);
  n = split(line, v, /[|,]/); if (v[n] == "") n-- }'

# expect_lines_sum FILE TOTAL: the values of every line add up to TOTAL
# (within the rounding of six written digits).
expect_lines_sum() {
  local bad
  bad=$(awk -v want="$2" "$AWK_VALUES"'{ s = 0; for (i = 1; i <= n; i++) s += v[i]
    if (s - want > 1e-5 || want - s > 1e-5) { print "line " NR - 1 " adds up to " s; exit } }' "$1")
  [ -z "$bad" ] || fail "$1: $bad, not $2"
}

# expect_zero FILE WHAT INDEX...: the values at these 1-based indexes are
# written as exactly 0 on every line.
expect_zero() {
  local file=$1 what=$2 bad
  shift 2
  bad=$(awk -v want="$*" "$AWK_VALUES"'{ k = split(want, idx, " ")
    for (j = 1; j <= k; j++) if (v[idx[j]] != "0") { print "line " NR - 1 ", value " idx[j] " is " v[idx[j]]; exit } }' "$file")
  [ -z "$bad" ] || fail "$file: $what: $bad, not 0"
}
