#!/usr/bin/env bash
# Builds the Debian package (build/package/packages/lapidograph_<version>_amd64.deb) and checks
# it with lintian. Without --build-only it then tries the package on this machine: installs it
# with dpkg, marks an example label from the installed files as an ordinary user whose home
# folder is empty, reads the manual page, removes the package and checks that nothing of it
# is left outside that user's home. Needs root (or sudo) for installing.
set -euo pipefail
cd "$(dirname "$0")/.."

build_only=""
case "${1:-}" in
  --build-only) build_only=1 ;;
  "") ;;
  *) echo "usage: scripts/package.sh [--build-only]" >&2; exit 2 ;;
esac

scripts/install-deps.sh
scripts/build.sh package

out=build/package/packages
rm -rf "$out"
(cd build/package && cpack -G DEB)
debs=("$out"/lapidograph_*_amd64.deb)
deb="${debs[0]}"
[ -f "$deb" ] || { echo "package: no package was made" >&2; exit 1; }
lintian --fail-on error --tag-display-limit 0 "$deb"
echo "package: $deb"
[ -n "$build_only" ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

fail() { echo "package: $*" >&2; exit 1; }

# An ordinary user: the unprivileged "nobody" account, with a fresh empty home folder.
user=nobody
uid="$(id -u "$user")"
gid="$(id -g "$user")"
home="$(mktemp -d)"
stamp="$(mktemp)"
installed=""
cleanup() {
  if [ -n "$installed" ]; then $SUDO dpkg -r lapidograph >/dev/null 2>&1 || true; fi
  $SUDO rm -rf "$home"
  rm -f "$stamp"
}
trap cleanup EXIT
# A login session gives the user a private runtime folder; here it lies in the home folder.
runtime="$home/.runtime"
$SUDO install -d -m 700 -o "$uid" -g "$gid" "$runtime"
$SUDO chown "$uid:$gid" "$home"
as_user() {
  (cd "$home" && $SUDO setpriv --reuid="$uid" --regid="$gid" --clear-groups --reset-env \
    env HOME="$home" XDG_RUNTIME_DIR="$runtime" LANG=C.UTF-8 "$@")
}

if dpkg-query -W -f='${Status}' lapidograph 2>/dev/null | grep -q 'ok installed'; then
  $SUDO dpkg -r lapidograph
fi
touch "$stamp"
sleep 1

installed=1
$SUDO dpkg -i "$deb"
mapfile -t owned < <(dpkg -L lapidograph | while read -r f; do [ -f "$f" ] && echo "$f"; done)
[ "${#owned[@]}" -gt 0 ] || fail "dpkg lists no file of the package"

# Every program answers --help and --version from the installed files.
for p in lapidograph lapidograph-cli lapidograph-dmcsim; do
  [ -x "/usr/bin/$p" ] || continue
  as_user env QT_QPA_PLATFORM=offscreen "/usr/bin/$p" --version | grep -q "^$p [0-9]" \
    || fail "$p --version"
  as_user env QT_QPA_PLATFORM=offscreen "/usr/bin/$p" --help >/dev/null || fail "$p --help"
done

# The marking run of an example, as the user, in the user's (empty) home folder.
[ "$(ls -A "$home")" = ".runtime" ] || fail "the home folder is not empty"
as_user /usr/bin/lapidograph-cli mark /usr/share/lapidograph/examples/text-stroke.xml \
  || fail "the example did not mark"
for f in LATrace commands.log dialogs.log marks.csv marks.png; do
  [ -s "$home/$f" ] || fail "the marking run left no $f"
done
echo "package: the example marked as $user ($(wc -l <"$home/marks.csv") lines in marks.csv)"

if [ -x /usr/bin/lapidograph ]; then
  man_page=lapidograph
else
  man_page=lapidograph-cli
fi
MANPAGER=cat MANWIDTH=80 man "$man_page" | grep -q "$man_page" || fail "man $man_page"
echo "package: man $man_page reads"

$SUDO dpkg -r lapidograph
installed=""

# Nothing of the package remains: none of its files, and nothing the run or the package
# made outside the user's home (file names that name the station, or files of the user).
for f in "${owned[@]}"; do
  [ ! -e "$f" ] || fail "left after removal: $f"
done
dpkg-query -W -f='${Status}' lapidograph 2>/dev/null | grep -q 'config-files' && fail "configuration files left"
left="$( (find /usr /etc /opt /var -xdev -newer "$stamp" \( -iname '*lapidograph*' -o -name LATrace \) -print
          find /usr /etc /opt /var /tmp /var/tmp /dev/shm -xdev -path "$home" -prune -o \
            -newer "$stamp" -user "$uid" -print) 2>/dev/null || true)"
[ -z "$left" ] || fail "left outside the home folder:
$left"
echo "package: installed, marked, read and removed without leaving anything behind"
