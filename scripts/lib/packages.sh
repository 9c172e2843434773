# Debian package helpers for the set-up scripts (sourced, not run). A package server can be briefly
# inconsistent ("Mirror sync in progress?") for hours; these helpers go on with what it gives:
#   pkg_installed NAME        true when dpkg lists NAME as installed
#   pkg_missing NAME...       prints the names that are not installed, one per line
#   pkg_update TAG            apt-get update; a failed index is reported in one line, not fatal
#   pkg_install TAG NAME...   apt-get install; when it does not resolve, once more with the candidates
#                             of the release itself (-t CODENAME); fails naming the packages
# TAG starts each line they print. ORV_APT_RETRY_PAUSE (seconds, default 15) is the pause before
# the one retry of an update the server answered with "sync in progress".

pkg_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

pkg_missing() {
  local p
  for p in "$@"; do pkg_installed "$p" || echo "$p"; done
}

# The release's codename (bookworm, ...), from os-release.
pkg_codename() {
  local file=${ORV_OS_RELEASE:-/etc/os-release}
  (. "$file" 2>/dev/null && echo "${VERSION_CODENAME:-}")
}

pkg_update() {
  local tag=$1 out status try
  for try in 1 2; do
    status=0
    out=$(apt-get update -q 2>&1) || status=$?
    [ "$status" -ne 0 ] || return 0
    # One retry, after a pause, when the server says it is being synchronised.
    if [ "$try" -eq 1 ] && grep -q 'sync in progress' <<<"$out"; then
      echo "${tag}: the package server is being synchronised; trying the update once more in ${ORV_APT_RETRY_PAUSE:-15} s"
      sleep "${ORV_APT_RETRY_PAUSE:-15}"
      continue
    fi
    break
  done
  local failed reason
  failed=$(grep -c '^Err:' <<<"$out" || true)
  reason=$(grep -m1 -A1 '^Err:' <<<"$out" | tr -s ' \n' ' ' | sed 's/ *$//')
  [ -n "$reason" ] || reason=$(grep -m1 '^E:' <<<"$out")
  echo "${tag}: apt-get update failed (exit ${status}, ${failed} index(es) not fetched: ${reason}); going on with what was fetched"
  return 0
}

pkg_install() {
  local tag=$1; shift
  local codename
  apt-get install -y -q --no-install-recommends "$@" && return 0
  codename=$(pkg_codename)
  if [ -n "$codename" ]; then
    echo "${tag}: the install did not resolve; trying once more with the candidates of ${codename} itself"
    apt-get install -y -q --no-install-recommends -t "$codename" "$@" && return 0
  fi
  echo "${tag}: cannot install: $*" >&2
  return 1
}
