#!/usr/bin/env bash
# Puts Unicorn 2.1 into build/deps/unicorn for the emulated board. Debian 12
# ships 2.0.1, whose every store to RAM takes a slow path looking for
# translated code to drop; 2.1 skips that for memory mapped without execute
# permission, which is most of the board's time. Debian 13's packages of 2.1
# need nothing newer than Debian 12's libc, so they are downloaded with apt
# from the machine's own Debian archive (only the suite changes) into a
# private apt state, and unpacked here: the system's sources and packages are
# left as they are.
set -euo pipefail
cd "$(dirname "$0")/.."

suite=trixie
packages=(libunicorn2t64 libunicorn-dev)
dest=build/deps/unicorn
stamp="$dest/version"

[ -f "$stamp" ] && grep -q '^2\.1\.' "$stamp" && exit 0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/state/lists/partial" "$work/cache/archives/partial" "$work/debs"

# The machine's own Debian release entries, as apt itself reads its sources
# (both file formats, whether or not its lists were downloaded): their
# archive serves the next release too.
. /etc/os-release
release=${VERSION_CODENAME:?no release name in /etc/os-release}
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
apt-get indextargets --no-release-info --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' 'Created-By: Packages' |
  awk -v release="$release" '$2 == release && $3 == "main" { print $1 }' | sort -u |
  while read -r uri; do
    echo "deb [signed-by=$keyring] $uri $suite main"
  done >"$work/sources.list"
if [ ! -s "$work/sources.list" ]; then
  echo "Unicorn 2.1: no Debian archive for '$release' (main) in this machine's apt sources;" >&2
  echo "put Unicorn 2.1's files under $dest by hand, or add the archive." >&2
  exit 1
fi

apt_private=(-o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts=/dev/null
             -o Dir::State="$work/state" -o Dir::State::status=/dev/null -o Dir::Cache="$work/cache"
             -o Debug::NoLocking=1 -o APT::Sandbox::User=root)
echo "fetching Unicorn 2.1 (${packages[*]} from $suite) into $dest"
if ! apt-get "${apt_private[@]}" -qq update ||
   ! (cd "$work/debs" && apt-get "${apt_private[@]}" -qq download "${packages[@]}"); then
  echo "Unicorn 2.1: could not download ${packages[*]} from $suite (sources: $(tr '\n' ' ' <"$work/sources.list"))" >&2
  exit 1
fi

version=$(dpkg-deb -f "$work"/debs/libunicorn2t64_*.deb Version)
case "$version" in
  2.1.*) ;;
  *) echo "Unicorn 2.1: $suite has $version, not 2.1" >&2; exit 1 ;;
esac
rm -rf "$dest"
mkdir -p "$dest"
for deb in "$work"/debs/*.deb; do
  dpkg-deb -x "$deb" "$dest"
done
# The board links the shared library; the static one is 30 MB of nothing.
rm -f "$dest"/usr/lib/*/libunicorn.a
echo "$version" >"$stamp"
