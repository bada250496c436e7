#!/usr/bin/env bash
# mvn install:install-file accepts dist/: the jar and pom land in a fresh
# local repository under com/ormid/ormid-signer/<version>, byte for byte.
# Maven resolves its install plugin from Debian's repository (/usr/share/maven-repo).
# usage: maven_install_test.sh <dist>
set -euo pipefail
dist=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/settings.xml" <<'XML'
<settings><mirrors><mirror><id>debian</id><mirrorOf>*</mirrorOf><url>file:///usr/share/maven-repo</url></mirror></mirrors></settings>
XML
version=$(sed -n 's|^  <version>\(.*\)</version>$|\1|p' "$dist/pom.xml")
(cd "$work" && mvn -B -q -s settings.xml -Dmaven.repo.local="$work/repo" install:install-file \
  -Dfile="$dist/ormid-signer.jar" -DpomFile="$dist/pom.xml")
installed=$work/repo/com/ormid/ormid-signer/$version
cmp "$dist/ormid-signer.jar" "$installed/ormid-signer-$version.jar"
cmp "$dist/pom.xml" "$installed/ormid-signer-$version.pom"
echo "PASS mvn install:install-file: com.ormid:ormid-signer:$version"
