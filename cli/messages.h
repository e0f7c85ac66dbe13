// The tool's one way of writing lines: plain result lines on standard output, and tagged
// messages whose stream follows their level. Texts are always arguments, never formats.
#ifndef OMBREX_CLI_MESSAGES_H
#define OMBREX_CLI_MESSAGES_H

void ombrex_cli_printLine(const char* text);

void ombrex_cli_printDiag(const char* message);
void ombrex_cli_printDiagValue(const char* label, const char* value);
void ombrex_cli_printInfo(const char* message);
void ombrex_cli_printInfoValue(const char* label, const char* value);
void ombrex_cli_printNotice(const char* message);
void ombrex_cli_printNoticeValue(const char* label, const char* value);
void ombrex_cli_printSuccess(const char* message);
void ombrex_cli_printWarning(const char* message);
void ombrex_cli_printWarningValue(const char* label, const char* value);
void ombrex_cli_printError(const char* message);
void ombrex_cli_printErrorValue(const char* label, const char* value);

// The fatal forms write an error line and end the process with status 127.
[[noreturn]] void ombrex_cli_fatal(const char* message);
[[noreturn]] void ombrex_cli_fatalValue(const char* label, const char* value);
// Releases the heap text value (with free) after writing it.
[[noreturn]] void ombrex_cli_fatalValueFree(const char* label, char* value);

// Exit status of every fatal error.
inline constexpr int fatalExitStatus = 127;

#endif
