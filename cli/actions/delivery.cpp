#include "cli/actions/delivery.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <sys/stat.h>

#include "cli/messages.h"
#include "library/loader.h"

namespace {

const char* fileTypeName(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "a directory";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISCHR(mode)) {
        return "a character device";
    }
    if (S_ISBLK(mode)) {
        return "a block device";
    }
    return S_ISSOCK(mode) ? "a socket" : "of another type";
}

// The reason in the warning, with the detail that the file's status adds when it is known.
int describeConfigReason(const ConfigurationRecord& record, const struct stat* status, char* reason,
                         size_t capacity) {
    switch (record.fileUse) {
    case ConfigFileUnreadable:
        return std::snprintf(reason, capacity, "cannot be read: %s",
                             std::strerror(record.fileError));
    case ConfigFileNotRegular:
        return status != nullptr ? std::snprintf(reason, capacity, "not a regular file but %s",
                                                 fileTypeName(status->st_mode))
                                 : std::snprintf(reason, capacity, "not a regular file");
    case ConfigFileNotRootOwned:
        return status != nullptr ? std::snprintf(reason, capacity, "owned by uid %u, not by root",
                                                 static_cast<unsigned>(status->st_uid))
                                 : std::snprintf(reason, capacity, "not owned by root");
    case ConfigFileWritableByOthers:
        return status != nullptr
                   ? std::snprintf(reason, capacity, "mode %04o, group or others may write it",
                                   static_cast<unsigned>(status->st_mode & 07777))
                   : std::snprintf(reason, capacity, "group or others may write it");
    default:
        return -1;
    }
}

int describeDestinationReason(const DestinationRecord& record, char* reason, size_t capacity) {
    switch (record.use) {
    case DestinationSocketRefused:
        if (record.error == ENOENT || record.error == ECONNREFUSED) {
            return std::snprintf(reason, capacity, "nothing listens on the syslog socket");
        }
        return std::snprintf(reason, capacity, "the syslog socket refuses them: %s",
                             std::strerror(record.error));
    case DestinationFileRefused:
        if (record.error == ENOENT) {
            return std::snprintf(reason, capacity, "the log file is missing");
        }
        return std::snprintf(reason, capacity, "the log file cannot be opened: %s",
                             std::strerror(record.error));
    case DestinationFileLink:
        return std::snprintf(reason, capacity, "the log file is a symbolic link");
    case DestinationFileNotRegular:
        return std::snprintf(reason, capacity, "the log file is not a regular file");
    case DestinationFileNotRootOwned:
        return std::snprintf(reason, capacity, "the log file is not owned by root");
    case DestinationFileLinked:
        return std::snprintf(reason, capacity, "the log file has more than one name");
    default:
        return -1;
    }
}

// The label of the warning for a configuration file that the library did not use; false when
// it used the file, when there is none, or when the library says nothing. status is the
// file's own (followed like the library's open), or null when unknown.
bool describeIgnoredConfig(const ConfigurationRecord& record, const struct stat* status,
                           char* label, size_t capacity) {
    char reason[160];
    if (describeConfigReason(record, status, reason, sizeof reason) < 0) {
        return false;
    }
    std::snprintf(label, capacity, "Configuration file ignored (%s), defaults apply", reason);
    return true;
}

// The same for a destination that cannot take a record now; false when it can, or when
// recording is off.
bool describeUndeliverable(const DestinationRecord& record, char* label, size_t capacity) {
    char reason[160];
    if (describeDestinationReason(record, reason, sizeof reason) < 0) {
        return false;
    }
    std::snprintf(label, capacity, "Records cannot be delivered now (%s)", reason);
    return true;
}

} // namespace

void ombrex_cli_warnIfConfigIgnored(const ConfigurationRecord& record) {
    struct stat status;
    const bool known = stat(record.configFilePath, &status) == 0;
    char label[256];
    if (describeIgnoredConfig(record, known ? &status : nullptr, label, sizeof label)) {
        ombrex_cli_printWarningValue(label, record.configFilePath);
    }
}

void ombrex_cli_warnIfUndeliverable(const char* libraryPath) {
    void* handle = ombrex_cli_openLibraryQuietly(libraryPath);
    if (handle == nullptr) {
        return;
    }
    auto check =
        reinterpret_cast<OmbrexDestinationCheckFn>(dlsym(handle, "ombrex_destination_check"));
    char label[256];
    if (check != nullptr) {
        const DestinationRecord* record = check();
        if (describeUndeliverable(*record, label, sizeof label)) {
            ombrex_cli_printWarningValue(label, record->path);
        }
    }
    dlclose(handle);
}
