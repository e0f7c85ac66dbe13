#include "cli/messages.h"

#include <cstdio>
#include <cstdlib>

void ombrex_cli_printLine(const char* text) {
    std::puts(text);
}

void ombrex_cli_printDiag(const char* message) {
    std::printf("[DIAG] %s\n", message);
}

void ombrex_cli_printDiagValue(const char* label, const char* value) {
    std::printf("[DIAG] %s: '%s'\n", label, value);
}

void ombrex_cli_printInfo(const char* message) {
    std::printf("[INFO] %s\n", message);
}

void ombrex_cli_printInfoValue(const char* label, const char* value) {
    std::printf("[INFO] %s: %s\n", label, value);
}

void ombrex_cli_printNotice(const char* message) {
    std::printf("[NOTICE] %s\n", message);
}

void ombrex_cli_printNoticeValue(const char* label, const char* value) {
    std::printf("[NOTICE] %s: %s\n", label, value);
}

void ombrex_cli_printSuccess(const char* message) {
    std::printf("[SUCCESS] %s\n", message);
}

void ombrex_cli_printWarning(const char* message) {
    std::fprintf(stderr, "[WARNING] %s\n", message);
}

void ombrex_cli_printWarningValue(const char* label, const char* value) {
    std::fprintf(stderr, "[WARNING] %s: %s\n", label, value);
}

void ombrex_cli_printError(const char* message) {
    std::fprintf(stderr, "[ERROR] %s\n", message);
}

void ombrex_cli_printErrorValue(const char* label, const char* value) {
    std::fprintf(stderr, "[ERROR] %s: %s\n", label, value);
}

// exit(), not _exit(): buffered standard output must still reach its reader.
void ombrex_cli_fatal(const char* message) {
    ombrex_cli_printError(message);
    std::exit(fatalExitStatus);
}

void ombrex_cli_fatalValue(const char* label, const char* value) {
    ombrex_cli_printErrorValue(label, value);
    std::exit(fatalExitStatus);
}

void ombrex_cli_fatalValueFree(const char* label, char* value) {
    ombrex_cli_printErrorValue(label, value);
    std::free(value);
    std::exit(fatalExitStatus);
}
