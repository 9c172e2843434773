# Helpers for the test legs of scripts/test and scripts/test-windows (sourced, not run).
#   leg_ctest DIR JUNIT      runs ctest in DIR, writing the JUnit report JUNIT (relative to DIR)
#   leg_counts DIR/JUNIT     prints "P passed, F failed, S skipped" from that report
#   leg_record NAME TEXT     appends one summary line to $ORV_LEG_SUMMARY, when it is set

leg_ctest() {
  (cd "$1" && ctest --output-on-failure -j"${jobs:-2}" --output-junit "$2" </dev/null)
}

leg_counts() {
  local head tests failures skipped
  # ctest writes the element's attributes one per line.
  head=$(head -n 20 "$1" 2>/dev/null | tr '\n\t' '  ' | grep -m1 -o '<testsuite [^>]*>') || { echo "no test report"; return 0; }
  tests=$(sed -n 's/.* tests="\([0-9]*\)".*/\1/p' <<<"$head")
  failures=$(sed -n 's/.* failures="\([0-9]*\)".*/\1/p' <<<"$head")
  skipped=$(sed -n 's/.* skipped="\([0-9]*\)".*/\1/p' <<<"$head")
  echo "$(( ${tests:-0} - ${failures:-0} - ${skipped:-0} )) passed, ${failures:-0} failed, ${skipped:-0} skipped"
}

leg_record() {
  [ -n "${ORV_LEG_SUMMARY:-}" ] && printf '%-12s %s\n' "$1" "$2" >>"$ORV_LEG_SUMMARY"
  return 0
}
