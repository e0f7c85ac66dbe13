#include <cstring>

#include "cli/actions/actions.h"
#include "cli/messages.h"

namespace {

struct ActionEntry {
    const char* word;
    int (*handler)();
};

// Compared in this order; "about" and "help" are handled after the table.
constexpr ActionEntry actionTable[] = {
    {"status", ombrex_cli_action_status},   {"conf", ombrex_cli_action_conf},
    {"disable", ombrex_cli_action_disable}, {"enable", ombrex_cli_action_enable},
    {"version", ombrex_cli_action_version},
};

} // namespace

int main(int argc, char** argv) {
    if (argc <= 1) {
        ombrex_cli_action_help();
        ombrex_cli_fatal("No action specified.");
    }
    const char* word = argv[1];
    for (const ActionEntry& entry : actionTable) {
        if (std::strcmp(word, entry.word) == 0) {
            return entry.handler();
        }
    }
    if (std::strcmp(word, "about") == 0) {
        ombrex_cli_action_about();
        return 0;
    }
    ombrex_cli_action_help();
    if (std::strcmp(word, "help") == 0) {
        return 0;
    }
    ombrex_cli_fatalValue("Unknown action", word);
}
