#include <cstdio>
#include <cstdlib>

#include "cli/actions/actions.h"
#include "cli/actions/delivery.h"
#include "cli/messages.h"
#include "library/loader.h"
#include "library/ombrex.h"

namespace {

template <typename Function> Function lookUp(const char* name) {
    return reinterpret_cast<Function>(ombrex_cli_getSymbol(name));
}

} // namespace

int ombrex_cli_action_conf() {
    ombrex_cli_loadLibrary();
    // Every export is looked up before any is called, so a missing one stops the run before
    // the listing starts.
    auto initEntryPoint = lookUp<OmbrexEntryPointFn>("ombrex_entrypoint_cli_init");
    auto exitEntryPoint = lookUp<OmbrexEntryPointFn>("ombrex_entrypoint_cli_exit");
    auto getConfiguration = lookUp<OmbrexConfigurationGetFn>("ombrex_configuration_get");
    auto getAllOptions = lookUp<OmbrexOptionGetAllFn>("ombrex_configfile_optionRegistry_getAll");
    auto getValue =
        lookUp<OmbrexOptionValueFn>("ombrex_configfile_optionRegistry_getOptionValueAsString");

    initEntryPoint();
    const ConfigurationRecord* configuration = getConfiguration();
    ombrex_cli_warnIfConfigIgnored(*configuration);
    std::printf("; Options from config file (or defaults): %s\n", configuration->configFilePath);
    ombrex_cli_printLine("[ombrex]");
    for (const OptionRecord* option = getAllOptions(); option->name[0] != '\0'; ++option) {
        char* value = getValue(option->name);
        std::printf("%s = %s\n", option->name, value);
        std::free(value);
    }
    exitEntryPoint();
    return 0;
}
