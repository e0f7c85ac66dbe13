// Warnings that the library would lose records: it ignores its configuration file, or its
// destination cannot take a record now. The library decides both; these only word its answer.
#ifndef OMBREX_CLI_ACTIONS_DELIVERY_H
#define OMBREX_CLI_ACTIONS_DELIVERY_H

#include <stddef.h>
#include <sys/stat.h>

#include "library/ombrex.h"

// Writes the label of the warning for a configuration file that the library did not use into
// label; false when it used the file, when there is none, or when the library says nothing.
// status is the file's own (followed like the library's open), or null when unknown.
bool ombrex_cli_describeIgnoredConfig(const ConfigurationRecord& record, const struct stat* status,
                                      char* label, size_t capacity);

// The same for a destination that cannot take a record now; false when it can, or when
// recording is off.
bool ombrex_cli_describeUndeliverable(const DestinationRecord& record, char* label,
                                      size_t capacity);

// The warning with the file's path as value, when there is one to give.
void ombrex_cli_warnIfConfigIgnored(const ConfigurationRecord& record);

// Asks the library at libraryPath whether its destination takes a record now and warns when
// it does not. Says nothing when the library cannot be opened (a FIFO is not even tried) or
// predates the question.
void ombrex_cli_warnIfUndeliverable(const char* libraryPath);

#endif
