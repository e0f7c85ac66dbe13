#include "tests/support/expected.h"

#include "tests/support/run.h"

namespace ombrex::test {

std::string goldenOutput(const std::string& name) {
    return readFile(std::string(OMBREX_EXPECTED_DIR) + "/" + name);
}

} // namespace ombrex::test
