// The exports that ombrexctl calls by name for its conf, version and status reports.
//
// They run in the tool, single-threaded and in order (init, the record, the table, one value
// per option, exit), so they may keep the loaded configuration in static storage; the record
// path never touches it.

#include <dlfcn.h>

#include "libombrex/bytes.h"
#include "libombrex/deliver.h"
#include "libombrex/export.h"
#include "libombrex/libc_versions.h"
#include "libombrex/options.h"
#include "libombrex/sys.h"
#include "library/ombrex.h"

namespace {

// Plain zero-initialised data: nothing runs when the library is loaded.
char configText[ombrex::configTextCapacity + 1];
ombrex::Options options;
ConfigurationRecord configuration;
// The status report's own copy: it may come before, after or without conf's.
char destinationText[ombrex::configTextCapacity + 1];
ombrex::Options destinationOptions;
DestinationRecord destination;
OptionRecord optionRegistry[ombrex::optionCount + 1];
bool loaded;

void ensureLoaded() {
    if (loaded) {
        return;
    }
    const char* const path = ombrex::configPath();
    ConfigFileUse use = ConfigFileUsed;
    int error = 0;
    size_t size = 0;
    // The very open and checks of the record path, so that conf tells why the file is not used.
    const int fd = ombrex::openConfig(path, size, &use, &error);
    ombrex::setDefaults(options);
    if (fd >= 0) {
        ombrex::loadOptionsFrom(fd, size, configText, options);
        ombrex::sys::close(fd);
    }
    configuration.loadedFromFile = fd >= 0 ? 1 : 0;
    configuration.fileUse = use;
    configuration.fileError = use == ConfigFileUnreadable ? error : 0;
    configuration.configFilePath = path;
    loaded = true;
}

// malloc is looked up when a value is asked for, which only the tool does: importing it would
// cost every process that loads the library a symbol lookup at start. The global lookup finds
// the allocator that the caller's free() belongs to.
void* allocate(size_t size) {
    using MallocFn = void* (*)(size_t);
    const auto fn = reinterpret_cast<MallocFn>(dlsym(RTLD_DEFAULT, "malloc"));
    return fn != nullptr ? fn(size) : nullptr;
}

char* copyText(const char* text) {
    const size_t length = ombrex::textLength(text);
    auto* copy = static_cast<char*>(allocate(length + 1));
    if (copy != nullptr) {
        ombrex::copyBytes(copy, text, length + 1);
    }
    return copy;
}

} // namespace

extern "C" {

OMBREX_EXPORT void ombrex_entrypoint_cli_init(void) {
    loaded = false;
    ensureLoaded();
}

OMBREX_EXPORT void ombrex_entrypoint_cli_exit(void) {
    loaded = false;
}

OMBREX_EXPORT const ConfigurationRecord* ombrex_configuration_get(void) {
    ensureLoaded();
    return &configuration;
}

OMBREX_EXPORT const OptionRecord* ombrex_configfile_optionRegistry_getAll(void) {
    // Filled in here rather than by a static initialiser, which would cost a relocation per
    // pointer in every process that loads the library.
    for (size_t i = 0; i < ombrex::optionCount; ++i) {
        const ombrex::OptionEntry& entry = ombrex::optionTable[i];
        optionRegistry[i] = {entry.name, ombrex::optionDefault(entry.option), entry.description, 0,
                             0};
    }
    optionRegistry[ombrex::optionCount] = {"", "", "", 0, 0}; // the end of the list
    return optionRegistry;
}

OMBREX_EXPORT char* ombrex_configfile_optionRegistry_getOptionValueAsString(const char* name) {
    ensureLoaded();
    const char* value = name != nullptr ? ombrex::optionValue(options, name) : nullptr;
    char* copy = copyText(value != nullptr ? value : "");
    // The caller frees the result and cannot handle null: when memory is that short, an empty
    // text is the best answer left.
    if (copy == nullptr) {
        copy = static_cast<char*>(allocate(1));
        if (copy != nullptr) {
            copy[0] = 0;
        }
    }
    return copy;
}

OMBREX_EXPORT const DestinationRecord* ombrex_destination_check(void) {
    ombrex::loadOptions(ombrex::configPath(), destinationText, destinationOptions);
    int error = 0;
    destination.use = ombrex::checkTarget(destinationOptions, error);
    destination.error = error;
    destination.path = destinationOptions.destination == ombrex::Destination::File
                           ? destinationOptions.file
                           : destinationOptions.syslogSocket;
    return &destination;
}

OMBREX_EXPORT int32_t ombrex_datasource_ombrex_version(char* buffer, size_t capacity,
                                                       const char* argument) {
    (void)argument;
    constexpr char version[] = OMBREX_VERSION;
    if (buffer == nullptr || capacity < sizeof version) {
        return -1;
    }
    ombrex::copyBytes(buffer, version, sizeof version);
    return static_cast<int32_t>(sizeof version - 1);
}

} // extern "C"
