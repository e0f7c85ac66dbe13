# Shared by the install tests: outcome helpers and a scratch directory.
# The tests take their paths from the environment that CTest sets (see CMakeLists.txt).

source "$(dirname "${BASH_SOURCE[0]}")/assertions.sh"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/ombrex-install-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
