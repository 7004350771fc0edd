#!/bin/sh
# Fails when a C++ file of the project is not clang-format clean.
set -eu
cd "$(dirname "$0")/.."
git ls-files -co --exclude-standard '*.cpp' '*.h' | xargs clang-format --dry-run -Werror
