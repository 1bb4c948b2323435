# Sourced by scripts/test.sh: which of its optional stages run.
#
# read_test_skip TEXT: reads TEXT, the value of TARNWICK_TEST_SKIP, a list of
# the stages to leave out separated by commas or spaces: "web" (the browser
# page) and "windows". It sets skipped_stages to those names, one space
# around each, and fails with a message naming a stage it does not know, so
# that a misspelt name does not quietly run the stage after all.
read_test_skip() {
  local name names
  IFS=$', \t' read -ra names <<<"$1"
  skipped_stages=" "
  for name in "${names[@]}"; do
    [ -n "$name" ] || continue
    case $name in
      web | windows) skipped_stages+="$name " ;;
      *)
        echo "TARNWICK_TEST_SKIP names the stage '$name'; the stages it can leave out are web and windows" >&2
        return 1
        ;;
    esac
  done
}

# stage_runs NAME: true unless read_test_skip was given NAME.
stage_runs() {
  [[ "$skipped_stages" != *" $1 "* ]]
}
