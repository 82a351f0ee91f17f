// A plug-in of the demo product's player. The player loads every Plugins/*.so
// and asks it, through "orvi_plugin_info", what it is; the build compiles this
// file once per plug-in with the plug-in's name, kind and description.

#ifndef ORVI_PLUGIN_NAME
#error "ORVI_PLUGIN_NAME, ORVI_PLUGIN_KIND and ORVI_PLUGIN_DESCRIPTION must be defined"
#endif

namespace {

struct OrviPluginInfo {
    int abiVersion;
    const char* name;
    const char* kind;
    const char* description;
};

constexpr OrviPluginInfo kInfo = {1, ORVI_PLUGIN_NAME, ORVI_PLUGIN_KIND, ORVI_PLUGIN_DESCRIPTION};

}  // namespace

extern "C" __attribute__((visibility("default"))) const OrviPluginInfo* orvi_plugin_info() {
    return &kInfo;
}
