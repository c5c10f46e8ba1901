// The plug-in's one settings record and its section in the host's configuration file.
#pragma once

#include "frame/wcx.h"

struct PluginSettingsRecord {
    PackDefaultParamStruct DefaultParams;
};

extern PluginSettingsRecord PluginSettings;

void LoadSettings(const PackDefaultParamStruct* params);
void ReleaseSettings();
