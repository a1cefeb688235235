# exim_helpers.sh - a private Exim for the end-to-end tests, sourced by run_e2e.
#   need_exim                  install exim4-daemon-light when missing, or skip (77)
#   start_suite SKERLA         a root test directory and the checks made at exit
#   new_site NAME              a fresh site: exim.conf, spool, log, aliases, mail/
#   add_mailbox ADDR...        a maildir that exim delivers ADDR into
#   add_alias ADDR TARGET      an alias line; TARGET is exim's redirect data
#   add_list ADDR FILE OPTS... the list alias ADDR: a pipe to skerla reading FILE,
#                              owned by owner@example.org, who gets its bounces
#   post SENDER RCPT < MSG     submit MSG (-odi) and wait until exim is done
#   run_queue                  a forced queue run (-qff), and wait
#   queue_count                messages left in the queue
#   copies ADDR                how many messages ADDR's mailbox holds
#   mailbox ADDR               the mailbox's messages, in delivery order, normalized,
#                              each between "=== message" and "=== end"
#   envelope_ids ADDR...       the exim id of every copy each mailbox got
#   check NAME WANT GOT        compare whole texts; print a diff and count a failure
#   finish_suite               the closing line; exit status 0 or 1
# Every site lives under one directory in /tmp (Debian-exim must read it) and
# is removed at exit, with any exim process still running on its configuration.

e2e_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
e2e_exim=/usr/sbin/exim4
e2e_passed=0
e2e_failed=0
e2e_case_failed=0

skip_suite() {
  echo "SKIPPED: $*"
  exit 77
}

need_exim() {
  [ "$(id -u)" -eq 0 ] || skip_suite "the end-to-end tests need root (to install exim and run it with -C)"
  if [ ! -x "$e2e_exim" ]; then
    echo "installing exim4-daemon-light"
    # The package would start a daemon where services may start; keep it down.
    local guard=
    if [ ! -e /usr/sbin/policy-rc.d ]; then
      printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d
      chmod 755 /usr/sbin/policy-rc.d
      guard=/usr/sbin/policy-rc.d
    fi
    (export DEBIAN_FRONTEND=noninteractive
     apt-get update -qq && apt-get install -y -qq --no-install-recommends exim4-daemon-light
    ) </dev/null >/tmp/skerla-e2e-apt.log 2>&1
    local status=$?
    [ -n "$guard" ] && rm -f "$guard"
    [ $status -eq 0 ] && [ -x "$e2e_exim" ] ||
      skip_suite "could not install exim4-daemon-light (see /tmp/skerla-e2e-apt.log)"
  fi
  [ "$(readlink -f /usr/sbin/sendmail)" = "$(readlink -f "$e2e_exim")" ] ||
    skip_suite "/usr/sbin/sendmail is not exim here, so skerla would not reach the test's exim"
  id Debian-exim >/dev/null 2>&1 || skip_suite "no Debian-exim user"
}

# exim_pids - processes running on one of this suite's configurations.
exim_pids() {
  local dir words
  for dir in /proc/[0-9]*; do
    mapfile -d '' words 2>/dev/null < "$dir/cmdline" || continue
    [[ " ${words[*]} " == *" -C $e2e_root/"* ]] && echo "${dir#/proc/}"
  done
}

spool_files() {
  find /tmp -maxdepth 1 -name 'skerla??????' -user Debian-exim 2>/dev/null | sort
}

start_suite() {
  e2e_root=$(mktemp -d /tmp/skerla-e2e.XXXXXX)
  chmod 755 "$e2e_root"
  e2e_skerla=$1
  e2e_spools_before=$(spool_files)
  trap end_suite EXIT
}

end_suite() {
  local pid
  for pid in $(exim_pids); do kill "$pid" 2>/dev/null; done
  [ -n "${E2E_KEEP:-}" ] && echo "kept $e2e_root" || rm -rf "$e2e_root"
}

new_site() {
  site=$e2e_root/$1
  mkdir -p "$site"/{spool,log,mail}
  chown Debian-exim: "$site"/{spool,log,mail}
  install -m 755 "$e2e_skerla" "$site/skerla"
  # Exim refuses a -C file that root does not own or others may write.
  sed "s|@DIR@|$site|g" "$e2e_here/exim.conf.in" > "$site/exim.conf"
  chmod 644 "$site/exim.conf"
  : > "$site/aliases"
  chmod 644 "$site/aliases"
  add_mailbox owner@example.org
  add_alias list-bounces@lists.example.org owner@example.org
}

add_mailbox() {
  local address
  for address; do
    mkdir -p "$site/mail/$address"
    chown Debian-exim: "$site/mail/$address"
  done
}

add_alias() {
  printf '%s: %s\n' "$1" "$2" >> "$site/aliases"
}

# add_list ADDR FILE OPTION... - the list's pipe; -sendmail points skerla's
# submissions at this site's exim, delivering at once.
add_list() {
  local address=$1 list=$2
  shift 2
  add_alias "$address" "\"|$site/skerla -sendmail '-C $site/exim.conf -odi' -domain lists.example.org -owner owner@example.org $* list-bounces@lists.example.org $list\""
}

# settle - wait until no exim process of this site runs (a bounce may be
# delivered by a child that outlives the submission).
settle() {
  local tries=0
  while exim_pids | grep -q . && [ $tries -lt 600 ]; do
    sleep 0.1
    tries=$((tries + 1))
  done
}

post() {
  "$e2e_exim" -C "$site/exim.conf" -odi -oi -f "$1" "$2"
  settle
}

run_queue() {
  "$e2e_exim" -C "$site/exim.conf" -qff
  settle
}

queue_count() {
  "$e2e_exim" -C "$site/exim.conf" -bpc
}

mailbox_files() {
  local dir=$site/mail/$1/new
  [ -d "$dir" ] && ls -tr "$dir" | sed "s|^|$dir/|"
}

copies() {
  mailbox_files "$1" | grep -c .
}

# normalize - what changes from run to run: exim ids, dates, the site's path,
# exim's MIME boundaries, and skerla's generated Message-ID stamp.
normalize() {
  sed -E -e "s|$site|@DIR@|g" \
         -e 's/[0-9A-Za-z]{6}-[0-9A-Za-z]{6}-[0-9A-Za-z]{2}/ID/g' \
         -e 's/[A-Z][a-z]{2}, [0-9]{1,2} [A-Z][a-z]{2} [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} [+-][0-9]{4}/DATE/g' \
         -e 's/[0-9]+-eximdsn-[0-9]+/BOUNDARY/g' \
         -e 's/<skerla\.[0-9]+\.[0-9 ]{4}[0-9]{10}@/<skerla.PID.STAMP@/g'
}

mailbox() {
  local file
  for file in $(mailbox_files "$1"); do
    echo "=== message"
    normalize < "$file"
    echo "=== end"  # right after the last byte, so line ends count too
  done
}

envelope_ids() {
  local address file
  for address; do
    for file in $(mailbox_files "$address"); do
      sed -n -E '1,6s/^\tid ([0-9A-Za-z-]+);?$/\1/p' "$file" | head -1
    done
  done
}

check() {
  if [ "$2" == "$3" ]; then return 0; fi
  echo "  FAILED: $1"
  diff -u <(printf '%s\n' "$2") <(printf '%s\n' "$3") | sed 's/^/    /' | head -60
  e2e_case_failed=1
  return 1
}

# run_case NAME - run the function NAME on a fresh site; the site's panic log
# must stay empty and its queue as the case left it.
run_case() {
  e2e_case_failed=0
  new_site "$1"
  echo "--- $1"
  "$1"
  check "$1: exim's panic log" "" "$(cat "$site/log/paniclog" 2>/dev/null)"
  if [ $e2e_case_failed -eq 0 ]; then
    echo "PASS $1"
    e2e_passed=$((e2e_passed + 1))
  else
    echo "FAIL $1"
    e2e_failed=$((e2e_failed + 1))
  fi
}

# new_spool_files - spool files of Debian-exim that appeared during the suite
# and stay; another suite running beside this one may own a passing one.
new_spool_files() {
  local tries=0 new
  while new=$(comm -13 <(echo "$e2e_spools_before") <(spool_files)) &&
        [ -n "$new" ] && [ $tries -lt 50 ]; do
    sleep 0.2
    tries=$((tries + 1))
  done
  echo "$new"
}

finish_suite() {
  e2e_case_failed=0
  check "no skerla spool file left in /tmp" "" "$(new_spool_files)"
  check "no exim process left running" "" "$(exim_pids)"
  [ $e2e_case_failed -eq 0 ] || e2e_failed=$((e2e_failed + 1))
  echo "$e2e_passed passed, $e2e_failed failed"
  [ $e2e_failed -eq 0 ]
}
