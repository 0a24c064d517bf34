# Output comparison of two workflow runs, sourced by run.sh (uses its check).

# files_in DIR SUBDIR: the file names in DIR/SUBDIR, one a line.
files_in() { (cd "$1/$2" 2>/dev/null && ls); }

# same_gunzipped A B: the two gzip files hold the same bytes.
same_gunzipped() { gzip -t "$1" "$2" 2>/dev/null && cmp -s <(gzip -dc "$1") <(gzip -dc "$2"); }

# without_column FILE NAME: a TSV file without its column headed NAME.
without_column() {
  awk -F'\t' -v OFS='\t' -v name="$2" '
    NR == 1 { for (i = 1; i <= NF; i++) if ($i == name) drop = i }
    { out = ""; n = 0
      for (i = 1; i <= NF; i++) if (i != drop) out = (n++ ? out OFS : "") $i
      print out }' "$1"
}

same_summary() { # same_summary RUN_A RUN_B
  [ -s "$1/summary.tsv" ] && [ -s "$2/summary.tsv" ] &&
    cmp -s <(without_column "$1/summary.tsv" tarvel_seconds) <(without_column "$2/summary.tsv" tarvel_seconds)
}

# compare_outputs LOCAL OTHER: every collected output of run OTHER equals that
# of run LOCAL, gzip files after decompression, the summary without timing.
compare_outputs() {
  local a=$1 b=$2 dir f
  check "founderprobs: written" test -n "$(files_in "$a" founderprobs)"
  # genoprobs/*.csv.gz only where the run writes them
  for dir in founderprobs $([ -d "$a/genoprobs" ] && echo genoprobs); do
    check "$dir: the same files" test "$(files_in "$a" $dir)" = "$(files_in "$b" $dir)"
    for f in $(files_in "$a" $dir); do
      check "$dir/$f: the same values" same_gunzipped "$a/$dir/$f" "$b/$dir/$f"
    done
  done
  check "mosaic.csv: the same runs" cmp -s "$a/mosaic.csv" "$b/mosaic.csv"
  check "summary.tsv without TARVEL's wall time: the same" same_summary "$a" "$b"
  check "summary.tsv has the tarvel_seconds column it drops" \
    grep -q $'\ttarvel_seconds' "$a/summary.tsv"
}
