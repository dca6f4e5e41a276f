#!/usr/bin/env bash
# fetch_deb_source.sh PACKAGE VERSION DIR: downloads Debian's source package
# PACKAGE=VERSION into DIR with apt-get source. The apt sources are the machine's own
# entries turned into deb-src entries in a private list under DIR, with private package
# lists and cache beside it: the project names no host, and the machine's apt state stays
# as it was.
set -euo pipefail
package=$1 version=$2 dir=$3
apt_dir=$dir/apt
mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"

shopt -s nullglob
: > "$apt_dir/sources.list.d/deb-src.sources"
for f in /etc/apt/sources.list.d/*.sources; do
  sed -E 's/^Types:.*/Types: deb-src/' "$f" >> "$apt_dir/sources.list.d/deb-src.sources"
  echo >> "$apt_dir/sources.list.d/deb-src.sources"
done
: > "$apt_dir/sources.list.d/deb-src.list"
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -e "$f" ] || continue
  sed -nE 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f" >> "$apt_dir/sources.list.d/deb-src.list"
done

apt=(apt-get -q -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$apt_dir/sources.list.d"
     -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache")
if ! "${apt[@]}" update >"$apt_dir/update.log" 2>&1 ||
   ! (cd "$dir" && "${apt[@]}" source --download-only "$package=$version") >"$apt_dir/source.log" 2>&1; then
  echo "cannot fetch Debian's source package $package $version through the machine's apt" \
       "sources (as deb-src; see $apt_dir/*.log)" >&2
  exit 1
fi
