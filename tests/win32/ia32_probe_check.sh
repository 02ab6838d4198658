#!/usr/bin/env bash
# The 32-bit build's runtime tests on a machine that cannot run 32-bit x86
# code: the probe is pointed at a program that cannot start here (an AArch64
# executable), and CTest must report every runtime test as skipped, each with
# the reason, none as passed or failed. The tests are run by a CTest of their
# own in a folder of its own, so this run's logs are left alone.
source "$(dirname "$0")/wine_common.sh"
: "${VMFITS_PROBE_CHECK_DIR:?}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# An ELF header for another processor: the kernel refuses it with "Exec format error".
foreign="$work/foreign-loader"
printf '\177ELF\002\001\001\000\000\000\000\000\000\000\000\000\002\000\267\000\001\000\000\000' >"$foreign"
head -c 40 /dev/zero >>"$foreign"
chmod +x "$foreign"
if "$foreign" --version >/dev/null 2>&1; then fail "$foreign started; it cannot show the skipped path"; fi

set +e
VMFITS_IA32_PROBE="$foreign" ctest --test-dir "$VMFITS_PROBE_CHECK_DIR" -L wine -V >"$work/ctest.log" 2>&1
status=$?
set -e
total=$(grep -Ec '^ *[0-9]+/[0-9]+ Test +#[0-9]+: ' "$work/ctest.log" || true)
skipped=$(grep -Ec '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .*\*\*\*Skipped' "$work/ctest.log" || true)
reasons=$(grep -c 'skipped: this machine cannot run 32-bit x86 programs (.*Exec format error)' "$work/ctest.log" || true)
grep -E '^ *[0-9]+/[0-9]+ Test +#' "$work/ctest.log"
[ "$status" -eq 0 ] || { cat "$work/ctest.log"; fail "CTest ended with $status"; }
[ "$total" -ge 5 ] || { cat "$work/ctest.log"; fail "only $total runtime tests ran"; }
[ "$skipped" -eq "$total" ] || fail "$skipped of $total runtime tests reported skipped"
[ "$reasons" -eq "$total" ] || fail "$reasons of $total skipped tests gave the reason"
echo "ok: all $total 32-bit runtime tests reported skipped, each with the reason"
