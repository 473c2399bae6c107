#!/usr/bin/env bash
# What a repair of the installed package runs as SYSTEM: any user may start
# one (msiexec /fa), and the installer service runs its execute sequence as
# LocalSystem. The package's custom actions may only set a property or a
# folder, or stop with a message (types 51, 35 and 19, whatever their option
# bits); none may run a program, a DLL or a script, where a window it shows
# would be SYSTEM's. No table may change an ACL (LockPermissions,
# MsiLockPermissionsEx) or name a command the service manager runs as SYSTEM
# when the service fails (MsiServiceConfigFailureActions).
#
#   scripts/check-msi-repair.sh PACKAGE.msi
set -euo pipefail
msi=${1:?usage: check-msi-repair.sh PACKAGE.msi}

fail() {
  echo "check-msi-repair: $*" >&2
  exit 1
}

command -v msiinfo >/dev/null || fail "msiinfo (msitools) is missing"
[ -f "$msi" ] || fail "$msi is missing"
tables=$(msiinfo tables "$msi" | tr -d '\r') || fail "msiinfo cannot list the tables of $msi"

# A table's rows, tab-separated: msiinfo export's first three lines are the
# column names, their types and the table's keys. Nothing for a table the
# package does not have.
rows() {
  grep -qx -- "$1" <<<"$tables" || return 0
  msiinfo export "$msi" "$1" | tr -d '\r' | tail -n +4 | sed '/^$/d'
}

actions=0
while IFS=$'\t' read -r action type _; do
  [ -n "$action" ] || continue
  [[ "$type" =~ ^[0-9]+$ ]] || fail "the custom action $action has the type \"$type\""
  # The low six bits name what the action does; the bits above are options
  # (when and as whom it runs).
  case $((type & 0x3F)) in
    19 | 35 | 51) actions=$((actions + 1)) ;;
    *) fail "the custom action $action (type $type) runs code: a repair that a user starts would run it as SYSTEM" ;;
  esac
done < <(rows CustomAction)

for table in LockPermissions MsiLockPermissionsEx MsiServiceConfigFailureActions; do
  count=$(rows "$table" | wc -l)
  [ "$count" = 0 ] || fail "the $table table has $count rows: a repair that a user starts would apply them as SYSTEM"
done

echo "msi repair: $actions custom actions, each only setting a property or folder or showing an error;" \
  "0 rows in LockPermissions, MsiLockPermissionsEx and MsiServiceConfigFailureActions"
