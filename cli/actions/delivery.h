// Warnings that the library would lose records: it ignores its configuration file, or its
// destination cannot take a record now. The library decides both; these only word its answer.
#ifndef OMBREX_CLI_ACTIONS_DELIVERY_H
#define OMBREX_CLI_ACTIONS_DELIVERY_H

#include "library/ombrex.h"

// Warns, with the file's path as value, when the library did not use its configuration file
// although there is one.
void ombrex_cli_warnIfConfigIgnored(const ConfigurationRecord& record);

// Asks the library at libraryPath whether its destination takes a record now and warns when
// it does not. Says nothing when the library cannot be opened (a FIFO is not even tried) or
// predates the question.
void ombrex_cli_warnIfUndeliverable(const char* libraryPath);

#endif
