#!/usr/bin/env bash
# Signs a release folder as the update server serves it (one channel:
# update.ini and the files it lists): beside every file X it writes
# X.minisig with the trusted comment "file:X version:VERSION", which the
# updater checks. VERSION must be line 1 of update.ini.
#   scripts/sign-release.sh DIR VERSION
# The secret key is QVUPDATE_SIGNING_KEY, else minisign's default
# (~/.minisign/minisign.key); minisign asks for its password, if it has one.
set -euo pipefail
[[ $# -eq 2 && -d $1 ]] || { echo "usage: $0 DIR VERSION" >&2; exit 2; }
dir=$1
version=$2
key=${QVUPDATE_SIGNING_KEY:-$HOME/.minisign/minisign.key}
command -v minisign >/dev/null || { echo "minisign is not installed: run scripts/setup.sh" >&2; exit 1; }
[[ -f $key ]] || { echo "No secret key at $key (make one: minisign -G)" >&2; exit 1; }
[[ -f $dir/update.ini ]] || { echo "$dir has no update.ini" >&2; exit 1; }

# The updater binds files to line 1 as written, blanks and CR aside.
line1=$(head -n 1 "$dir/update.ini" | tr -d '\r' | sed -e 's/^[[:space:]]*//' -e 's/[[:space:]]*$//')
if [[ $line1 != "$version" ]]; then
  echo "Line 1 of $dir/update.ini is '$line1', not $version" >&2
  exit 1
fi
[[ $version =~ ^[^[:space:]]+$ ]] || { echo "A version with blanks cannot be signed: '$version'" >&2; exit 1; }

count=0
for file in "$dir"/*; do
  name=$(basename "$file")
  [[ -f $file && $name != *.minisig ]] || continue
  # The trusted comment's tokens are separated by blanks.
  if [[ $name =~ [[:space:]] ]]; then
    echo "A file name with blanks cannot be signed: '$name'" >&2
    exit 1
  fi
  minisign -S -q -s "$key" -m "$file" -x "$file.minisig" -t "file:$name version:$version" </dev/null
  count=$((count + 1))
done
echo "Signed $count files of $dir for release $version"
