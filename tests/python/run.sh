#!/bin/bash
# Installs the Python package into a virtual environment with pip, offline
# (the system's setuptools builds it), and runs its tests against the built
# library and the running test servers.
#   run.sh PACKAGE_DIR VENV_DIR LIBRARY
set -euo pipefail
package=$1 venv=$2 library=$3
[ -x "$venv/bin/pip" ] || /usr/bin/python3 -m venv "$venv"
# A copy: pip builds in the source tree, which stays clean.
rm -rf "$venv/package"
cp -r "$package" "$venv/package"
"$venv/bin/pip" install --quiet --no-index --force-reinstall "$venv/package"
cd "$venv"
ZELPOST_LIBRARY=$library "$venv/bin/python" -m unittest discover -s "$package/tests" -v
