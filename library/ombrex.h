/*
 * The exports of libombrex.so that ombrexctl calls by name.
 *
 * The library's own code includes this header too, so that the two sides cannot drift apart.
 * Both record layouts are read by offset from the other side of a dlopen boundary: the
 * static assertions below pin what the tool relies on.
 */
#ifndef OMBREX_LIBRARY_OMBREX_H
#define OMBREX_LIBRARY_OMBREX_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Why the library did not use its configuration file; the library alone decides. */
typedef enum ConfigFileUse {
    ConfigFileUsed = 0,
    ConfigFileMissing,
    ConfigFileUnreadable,      /* open(2) failed otherwise; the error is in fileError */
    ConfigFileNotRegular,      /* a directory, FIFO, device or socket */
    ConfigFileNotRootOwned,    /* another user owns it */
    ConfigFileWritableByOthers /* its group or others may write it */
} ConfigFileUse;

/* Where the options came from. The path at offset 8 names the file; fileUse (a ConfigFileUse)
 * says why it was not used. A library that leaves fileUse at 0 says nothing either way. */
typedef struct ConfigurationRecord {
    int32_t loadedFromFile; /* 1 when the file was read, 0 when only defaults apply */
    int32_t fileUse;
    const char* configFilePath;
    int32_t fileError; /* errno of the failed open for ConfigFileUnreadable, else 0 */
    int32_t reserved;
} ConfigurationRecord;

/* Whether the configured destination takes a record now, as a record would find it. */
typedef enum DestinationUse {
    DestinationReady = 0,
    DestinationOff,           /* destination = none */
    DestinationSocketRefused, /* socket(2) or connect(2) failed; the error is in error */
    DestinationFileRefused,   /* open(2) failed; the error is in error */
    DestinationFileLink,      /* a symbolic link, never followed */
    DestinationFileNotRegular,
    DestinationFileNotRootOwned,
    DestinationFileLinked /* a file with more than one name */
} DestinationUse;

typedef struct DestinationRecord {
    int32_t use; /* a DestinationUse */
    int32_t error;
    const char* path; /* the socket or the file */
} DestinationRecord;

/* One entry of the option table; the table ends with a record whose name is "". */
typedef struct OptionRecord {
    const char* name;
    const char* defaultValue;
    const char* description;
    int32_t kind;
    int32_t reserved;
} OptionRecord;

/* Called once before the configuration is read, and once after the last option value. */
void ombrex_entrypoint_cli_init(void);
void ombrex_entrypoint_cli_exit(void);

/* Never null; the record is owned by the library. */
const ConfigurationRecord* ombrex_configuration_get(void);

/* Never null; the table is owned by the library. */
const OptionRecord* ombrex_configfile_optionRegistry_getAll(void);

/* A new text holding the option's current value, never null; the caller frees it. */
char* ombrex_configfile_optionRegistry_getOptionValueAsString(const char* name);

/* Never null; the record is owned by the library. Opens and closes the destination once, as
 * a record does, and sends or writes nothing. */
const DestinationRecord* ombrex_destination_check(void);

/* Writes the library's version as NUL-terminated text within capacity bytes.
 * Negative means failure, zero or more success. */
int32_t ombrex_datasource_ombrex_version(char* buffer, size_t capacity, const char* argument);

typedef void (*OmbrexEntryPointFn)(void);
typedef const ConfigurationRecord* (*OmbrexConfigurationGetFn)(void);
typedef const OptionRecord* (*OmbrexOptionGetAllFn)(void);
typedef char* (*OmbrexOptionValueFn)(const char* name);
typedef const DestinationRecord* (*OmbrexDestinationCheckFn)(void);
typedef int32_t (*OmbrexVersionFn)(char* buffer, size_t capacity, const char* argument);

#ifdef __cplusplus
}
#endif

#if defined(__LP64__)
#ifdef __cplusplus
static_assert(offsetof(ConfigurationRecord, configFilePath) == 8, "path pointer at offset 8");
static_assert(sizeof(OptionRecord) == 32, "option records are 32 bytes apart");
static_assert(offsetof(OptionRecord, name) == 0, "name pointer at offset 0");
#else
_Static_assert(offsetof(ConfigurationRecord, configFilePath) == 8, "path pointer at offset 8");
_Static_assert(sizeof(OptionRecord) == 32, "option records are 32 bytes apart");
_Static_assert(offsetof(OptionRecord, name) == 0, "name pointer at offset 0");
#endif
#endif

#endif
