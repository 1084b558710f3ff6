#!/usr/bin/env bash
# Prints where `make deb` puts the package: dist/nimbrel_<version>_<arch>.deb under the source
# tree (absolute).
set -euo pipefail
cd "$(dirname "$0")/.."
version=$(dpkg-parsechangelog -l debian/changelog -SVersion)
echo "$PWD/dist/nimbrel_${version}_$(dpkg --print-architecture).deb"
