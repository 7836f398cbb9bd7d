#!/usr/bin/env bash
# One parameter file per data folder, for running many data sets as
# independent unattended analyses under a scheduler:
#   scripts/make-batch-params.sh TEMPLATE.xml SETS_FOLDER DATA_FOLDER...
# For each DATA_FOLDER it writes SETS_FOLDER/<name of DATA_FOLDER>/params.xml:
# the template with DataDirectory set to the data folder and
# OutputResultsDirectory and AllDoneFlagFile (alldone.flag) set to the set's
# own folder, all as absolute paths, so the runs may start in any folder.
# Every other element (model, fit settings, scan range, channel) is the
# template's. SETS_FOLDER/params.list names the written files, one a line,
# in the order of the arguments (line N is Slurm array task N).
set -euo pipefail
if [ $# -lt 3 ]; then
  echo "usage: $0 TEMPLATE.xml SETS_FOLDER DATA_FOLDER..." >&2
  exit 1
fi
template=$1
sets=$2
shift 2
[ -f "$template" ] || { echo "$0: no template $template" >&2; exit 1; }
for element in DataDirectory OutputResultsDirectory AllDoneFlagFile; do
  grep -q "<$element>.*</$element>" "$template" ||
    { echo "$0: the template lacks <$element> on one line" >&2; exit 1; }
done
mkdir -p "$sets"
sets=$(cd "$sets" && pwd)
# Folder names become set names: two data folders of one name would share a set.
names=$(for d in "$@"; do basename "$d"; done | sort | uniq -d)
if [ -n "$names" ]; then
  echo "$0: data folders of the same name: $names" >&2
  exit 1
fi
# A value for sed's replacement text: backslash, ampersand and the delimiter escaped.
escape() { printf '%s' "$1" | sed -e 's/[\\&|]/\\&/g'; }
: > "$sets/params.list"
for data in "$@"; do
  name=$(basename "$data")
  case $data in
    /*) absolute=$data ;;
    *) absolute=$(pwd)/$data ;;
  esac
  # A missing folder still gets its file: its run ends with status 3, which
  # the scheduler records like any other failure.
  [ -d "$data" ] || echo "$0: warning: $data is not a folder" >&2
  mkdir -p "$sets/$name"
  sed -e "s|<DataDirectory>.*</DataDirectory>|<DataDirectory>$(escape "$absolute")</DataDirectory>|" \
      -e "s|<OutputResultsDirectory>.*</OutputResultsDirectory>|<OutputResultsDirectory>$(escape "$sets/$name")</OutputResultsDirectory>|" \
      -e "s|<AllDoneFlagFile>.*</AllDoneFlagFile>|<AllDoneFlagFile>$(escape "$sets/$name/alldone.flag")</AllDoneFlagFile>|" \
      "$template" > "$sets/$name/params.xml"
  echo "$sets/$name/params.xml" >> "$sets/params.list"
done
