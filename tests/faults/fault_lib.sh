# fault_lib.sh - what the fault scripts share: a scratch directory under the
# current one (large inputs stay off /tmp), runs in a private /tmp where a
# spool file left behind is seen, the normalizer of dates and Message-ID
# stamps, and the tally. Source it, then call `finish` last.
set -u
work=$(mktemp -d "$PWD/faults.XXXXXX")
# FAULTS_KEEP=1 keeps the scratch directory for a look afterwards.
[ "${FAULTS_KEEP:-0}" = 1 ] || trap 'rm -rf "$work"' EXIT
failures=0
checks=0
private_tmp=0
if "$(dirname "${BASH_SOURCE[0]}")/../private_tmp" size=1m /dev/null true 2>/dev/null; then
  private_tmp=1
fi

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# expect_same WHAT GOT_FILE WANT_FILE - the whole text, byte for byte.
expect_same() {
  checks=$((checks + 1))
  cmp -s "$2" "$3" || { fail "$1 differs: diff $3 $2"; cp "$2" "$2.kept" 2>/dev/null; }
}

# expect_status WHAT GOT WANT
expect_status() {
  checks=$((checks + 1))
  [ "$2" = "$3" ] || fail "$1: exit status $2, want $3"
}

normalize() {
  sed -E -e 's/(^Received: by .* \(skerla v1\.13\); ).*$/\1DATE/' \
         -e 's/<skerla\.[0-9]+\.[0-9 ]{4}[0-9]{10}@/<skerla.PID.STAMP@/'
}

# in_private_tmp SIZE COMMAND... - run COMMAND (its descriptors as given)
# with /tmp a fresh tmpfs of SIZE; $work/leftover lists what it left there.
# Without mount namespaces the real /tmp is used and new skerla* files count.
in_private_tmp() {
  local size=$1
  shift
  if [ $private_tmp = 1 ]; then
    "$(dirname "${BASH_SOURCE[0]}")/../private_tmp" size="$size" "$work/leftover" "$@"
  else
    local before status
    before=$(ls -d /tmp/skerla* 2>/dev/null)
    "$@"
    status=$?
    comm -13 <(echo "$before") <(ls -d /tmp/skerla* 2>/dev/null) > "$work/leftover"
    return $status
  fi
}

expect_no_spool_left() {
  checks=$((checks + 1))
  [ -s "$work/leftover" ] && fail "$1: left in /tmp: $(tr '\n' ' ' < "$work/leftover")"
  return 0
}

finish() {
  echo "$(basename "$0"): $((checks - failures)) of $checks checks passed"
  [ $failures -eq 0 ]
}
