#include "settings/settings_store.h"

#include <cstring>

PluginSettingsRecord PluginSettings = {};

void LoadSettings(const PackDefaultParamStruct* params) {
    if (!params) return;
    std::memcpy(&PluginSettings.DefaultParams, params, sizeof(PackDefaultParamStruct));
}

void ReleaseSettings() {}
