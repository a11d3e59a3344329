#!/usr/bin/env bash
# Installs the Debian package on a bare Debian 12 system and uses it from the installed files
# only: burnwise-cli scans and programs the default simulated bench, dl2mgr-cli talks to
# dahlo2-sim, both windows start under Xvfb with a file named on the command line and are
# photographed; then the package is purged and nothing of it may be left.
#   tools/bare-system-check.sh [OUTDIR]     (default build/bare-system)
# Needs root (debootstrap, chroot, mounts). The first run makes the bare root with
# debootstrap from the Debian mirror apt already uses (a few minutes) and keeps it in
# $BARE_ROOT (default /tmp/burnwise-bare-root); each run works on a fresh copy of it.
# The whole log is OUTDIR/bare-system.log, the screenshots OUTDIR/*.png; the summary lines
# (starting "==" or "ok"/"FAIL") are printed; the file lists it compares are left in OUTDIR.
set -uo pipefail
cd "$(dirname "$0")/.."
out=$(mkdir -p "${1:-build/bare-system}" && cd "${1:-build/bare-system}" && pwd)
log=$out/bare-system.log
root=${BARE_ROOT:-/tmp/burnwise-bare-root}
work=${BARE_WORK:-/tmp/burnwise-bare-try}
[[ $(id -u) -eq 0 ]] || { echo "bare-system-check: needs root"; exit 2; }

deb=$(bash tools/package.sh 2>"$out/package.log" | tail -n 1)
[[ -f $deb ]] || { echo "bare-system-check: no package (see $out/package.log)"; exit 1; }
echo "== package: $(basename "$deb")"

command -v debootstrap >/dev/null || apt-get install -y -q debootstrap >/dev/null ||
  { echo "bare-system-check: cannot install debootstrap"; exit 2; }
if [[ ! -x $root/bin/bash ]]; then
  mirror=$(awk '/^URIs:/{print $2; exit}' /etc/apt/sources.list.d/*.sources 2>/dev/null)
  [[ -n $mirror ]] || mirror=$(awk '/^deb /{print $2; exit}' /etc/apt/sources.list 2>/dev/null)
  echo "== debootstrap bookworm from $mirror"
  debootstrap --variant=minbase bookworm "$root" "$mirror" >"$out/debootstrap.log" 2>&1 ||
    { echo "bare-system-check: debootstrap failed (see $out/debootstrap.log)"; exit 2; }
fi

rm -rf "$work"
cp -a "$root" "$work"
cp "$deb" "$work/root/"
cp /etc/resolv.conf "$work/etc/resolv.conf" 2>/dev/null
mount -t proc proc "$work/proc"
mount --rbind /dev "$work/dev"
mount -t tmpfs tmpfs "$work/tmp"
trap 'umount -l "$work/tmp" "$work/dev" "$work/proc" 2>/dev/null' EXIT

# The part that runs inside the bare system.
cat >"$work/root/inside.sh" <<'INSIDE'
set -uo pipefail
export DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8
failed=0
ok() { echo "ok: $*"; }
fail() { echo "FAIL: $*"; failed=1; }
check() { # check WHAT COMMAND...: runs the command, its output into the log
  local what=$1; shift
  echo "\$ $*"
  if "$@"; then ok "$what"; else fail "$what (exit status $?)"; fi
}
# Every path on the system but the ones that change by themselves.
snapshot() {
  find / -xdev \( -path /proc -o -path /tmp -o -path /dev -o -path /var/cache -o -path /var/log \
    -o -path /var/lib/apt -o -path /var/lib/dpkg -o -path /root \) -prune -o -print | sort
}

echo "== apt-get update"
apt-get update -q >/dev/null || fail "apt-get update"
# What the checks themselves use, installed before the package so the snapshot holds them.
echo "== test tools: xvfb xauth xdotool imagemagick man-db bash-completion"
apt-get install -y -q --no-install-recommends xvfb xauth xdotool imagemagick man-db \
  bash-completion >/dev/null || fail "installing the test tools"
snapshot >/root/before.txt
dpkg-query -W -f='${Package}\n' | sort >/root/packages-before.txt

deb=$(ls /root/burnwise_*.deb)
echo "== apt-get install ./$(basename "$deb")"
(cd /root && apt-get install -y -q "./$(basename "$deb")") >/root/install.log 2>&1 &&
  ok "package installed" || { fail "apt-get install"; cat /root/install.log; }
dpkg -L burnwise >/root/package-files.txt
echo "package files: $(wc -l </root/package-files.txt)"

# Nothing of the build tree is here: every program runs from /usr.
export HOME=/tmp/home XDG_RUNTIME_DIR=/tmp/runtime
mkdir -p "$HOME" && mkdir -m 700 -p "$XDG_RUNTIME_DIR"
cd "$HOME"
echo "== versions"
for program in burnwise burnwise-cli vqbench dl2mgr dl2mgr-cli dahlo2-sim; do
  echo "$(command -v $program): $($program --version)"
done
[[ $(for p in burnwise burnwise-cli vqbench dl2mgr dl2mgr-cli dahlo2-sim; do $p --version | cut -d' ' -f2; done | sort -u | wc -l) == 1 ]] &&
  ok "one version for every program" || fail "the programs print different versions"

echo "== manual pages and completion"
for page in burnwise burnwise-cli vqbench dl2mgr dl2mgr-cli dahlo2-sim; do
  warnings=$(man --warnings "$page" 2>&1 >/dev/null)
  [[ -z $warnings ]] && ok "man $page" || fail "man $page: $warnings"
done
for page in burnwise-template vqpipex-bench; do
  warnings=$(man --warnings 5 "$page" 2>&1 >/dev/null)
  [[ -z $warnings ]] && ok "man 5 $page" || fail "man 5 $page: $warnings"
done
words=$(bash -c 'source /usr/share/bash-completion/bash_completion
  _completion_loader burnwise-cli; COMP_WORDS=(burnwise-cli pro); COMP_CWORD=1
  _burnwise_cli; echo "${COMPREPLY[*]}"; COMP_WORDS=(burnwise-cli program --); COMP_CWORD=2
  _burnwise_cli; echo "${COMPREPLY[*]}"')
echo "completion of 'burnwise-cli pro' and 'burnwise-cli program --': $words"
[[ $words == *program*--template* ]] && ok "bash completion" || fail "bash completion"

echo "== burnwise-cli on the default simulated bench"
check "vqbench list" vqbench list
check "burnwise-cli scan" burnwise-cli scan
template=/usr/share/burnwise/Templates/KR2S-Serial-Cable.ept
check "burnwise-cli program" burnwise-cli program --template "$template" --log production.csv
check "burnwise-cli scan after programming" burnwise-cli scan
cat production.csv
[[ $(grep -c ',PASS' production.csv) -ge 1 ]] && ok "production log has passed devices" ||
  fail "no passed device in the production log"

echo "== dl2mgr-cli against dahlo2-sim"
coproc SIM { exec dahlo2-sim --com 1 --image "$HOME/keyer.eep" 2>/dev/null; }
read -r -t 10 tty <&"${SIM[0]}" && ok "dahlo2-sim answers on $tty" || fail "dahlo2-sim did not start"
check "dl2mgr-cli info" dl2mgr-cli --port 1 info
check "dl2mgr-cli read" dl2mgr-cli --port 1 read copy.eep
check "dl2mgr-cli show" dl2mgr-cli show copy.eep
check "dl2mgr-cli write" dl2mgr-cli --port 1 write copy.eep
check "dl2mgr-cli test" dl2mgr-cli --port 1 test 1

echo "== the windows under Xvfb, each opening a file named on its command line"
cat >/tmp/windows.sh <<'WINDOWS'
set -u
status=0
burnwise /usr/share/burnwise/Templates/KR2S-Serial-Cable.ept &
pid=$!
# The caption turns to Program Mode once the template is open.
if window=$(timeout 30 xdotool search --sync --name 'Program Mode' | head -1); then
  sleep 1; import -window root /tmp/burnwise.png; echo "burnwise window $window in Program Mode"
else
  echo "burnwise did not open the template"; status=1
fi
kill $pid; wait $pid 2>/dev/null
dl2mgr "$HOME/copy.eep" &
pid=$!
if window=$(timeout 30 xdotool search --sync --name '^Dahlo2 Standalone Editor' | head -1); then
  sleep 1; import -window root /tmp/dl2mgr.png; echo "dl2mgr window $window"
else
  echo "dl2mgr did not show its window"; status=1
fi
kill $pid; wait $pid 2>/dev/null
exit $status
WINDOWS
check "both windows shown and photographed" \
  xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash /tmp/windows.sh
kill "$SIM_PID" 2>/dev/null; wait "$SIM_PID" 2>/dev/null

echo "== apt-get purge burnwise, then autoremove"
apt-get purge -y -q burnwise >/root/purge.log 2>&1 && ok "package purged" || fail "apt-get purge"
# What our install brought in goes again, also what it pulled in only as recommended (or
# what a test tool merely suggests).
apt-get autoremove --purge -y -q -o APT::AutoRemove::RecommendsImportant=false \
  -o APT::AutoRemove::SuggestsImportant=false \
  >>/root/purge.log 2>&1 || fail "apt-get autoremove"
left=0
while read -r path; do
  [[ -f $path || -L $path ]] && { echo "left: $path"; left=1; }
done </root/package-files.txt
snapshot >/root/after.txt
# Packages and paths that were not there before the install are listed (the paths that no
# such package owns, too: caches other packages' triggers made). A path of ours may not be
# among them.
dpkg-query -W -f='${Package}\n' | sort >/root/packages-after.txt
comm -13 /root/packages-before.txt /root/packages-after.txt >/root/new-packages.txt
echo "packages left that were not there before: $(tr '\n' ' ' </root/new-packages.txt)"
comm -13 /root/before.txt /root/after.txt >/root/new-paths.txt
for package in $(cat /root/new-packages.txt); do dpkg -L "$package" 2>/dev/null; done | sort -u >/root/owned.txt
comm -23 /root/new-paths.txt /root/owned.txt >/root/unowned.txt
echo "new paths: $(wc -l </root/new-paths.txt), owned by no new package: $(wc -l </root/unowned.txt)"
sed -n '1,20s/^/  unowned: /p' /root/unowned.txt
ours=$(grep -Ei 'burnwise|dl2mgr|vqpipex|vqbench|dahlo2' /root/new-paths.txt)
[[ -n $ours ]] && echo "$ours" | sed 's/^/left: /'
[[ $left == 0 && -z $ours ]] && ok "nothing of the package is left" ||
  fail "the package left files behind"
((failed == 0)) && echo "== all checks passed" || echo "== some checks failed"
exit $failed
INSIDE

chroot "$work" /bin/bash /root/inside.sh >"$log" 2>&1
status=$?
cp "$work"/tmp/*.png "$out/" 2>/dev/null
cp "$work"/root/*.txt "$out/" 2>/dev/null
grep -E '^(== |ok: |FAIL: |left: |package files: |packages left|new paths: |  unowned: )' "$log"
echo "rc=$status (log: $log, screenshots: $(cd "$out" && ls ./*.png 2>/dev/null | tr '\n' ' '))"
exit $status
