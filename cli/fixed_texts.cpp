#include <cstdio>

#include "cli/actions/actions.h"

namespace {

// Each text ends with a newline of its own; puts adds one more, so the output ends with an
// empty line.
constexpr const char usageText[] =
    "Ombrex CLI management tool usage:\n"
    "    ombrexctl ACTION [ARGS]\n"
    "\n"
    "Available actions:\n"
    "    conf           Show configuration\n"
    "    disable        Remove libombrex.so from /etc/ld.so.preload\n"
    "    enable         Add libombrex.so to /etc/ld.so.preload\n"
    "    status         Detect whether Ombrex is already enabled and loaded\n"
    "\n"
    "    version        Show Ombrex version\n"
    "    about          Show general information\n"
    "    help           Show this help\n";

constexpr const char aboutText[] =
    "Ombrex is a small library that logs all program executions on your Linux/BSD system "
    "(a.k.a. Ombrex Command Logger).\n"
    "The command line utility that you've just used to display this message is Ombrex's CLI "
    "management tool.\n"
    "\n"
    "More information about Ombrex is available at the following URL:\n"
    "    https://ombrex.example.org/\n";

} // namespace

void ombrex_cli_action_about() {
    std::puts(aboutText);
}

void ombrex_cli_action_help() {
    std::puts(usageText);
}
