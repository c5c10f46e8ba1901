// The plug-in's one settings record and its section in the host's configuration file.
#pragma once

#include "common/string_list.h"
#include "common/text_buffer.h"
#include "frame/wcx.h"

// Fields are named like their keys in the settings file.
struct PluginSettingsRecord {
    PackDefaultParamStruct DefaultParams; // DefaultIniName is the settings file; empty: none
    bool UseCompression;
    bool CompressAll;
    StringList* CompressFormats; // owned; extensions without the dot
    bool ForceZbkSignature;
    bool KeepOriginalSignatureSuffix;
    char* ZbkSignatureSuffixKey;   // owned
    char* ZbkSignatureSuffixValue; // owned
    bool WriteCppComments;
};

extern PluginSettingsRecord PluginSettings;

// The file managers call the plug-in from several threads: a pack may read the settings
// while the options dialog or the host's settings file changes them on another thread.
// Every read and change of the record goes under this lock (one of the same thread may
// nest). A pack reads each setting once per file, so changes meet it between files.
class SettingsLock {
public:
    SettingsLock();
    ~SettingsLock();
    SettingsLock(const SettingsLock&) = delete;
    SettingsLock& operator=(const SettingsLock&) = delete;
};

// The section of the host's file that belongs to this plug-in.
constexpr const char kSettingsSection[] = "KYRZBK_HLV";
constexpr const char kDefaultCompressFormats[] = "sqs,sqf,sqm,ext,csv,txt,htm,html,cpp,bin,p3d";
constexpr const char kDefaultSignatureSuffixKey[] = "Packer";
constexpr const char kDefaultSignatureSuffixValue[] = "kyrzbk";

// Keeps a copy of the host's record and reads the section from the file it names.
void LoadSettings(const PackDefaultParamStruct* params);
// Writes the section into the settings file in place of the old one. The file is shared
// with the host and other plug-ins, so every line outside the section, and every comment in
// it, is kept byte for byte with its line end (only empty lines after the section go), and
// the file is replaced only by a complete new copy; false (and the file untouched) when that
// could not be made.
bool SaveSettings();
// Sets the field that one "key=value" line names; other lines are ignored. Modifies line.
void ApplySettingLine(char* line);
// Appends the section header and its eight lines; false when an append or the joined format
// list failed (the formats line is then left out).
bool WriteSettingsSection(CTextBuffer& buffer, bool lineEndFirst);

// Installs a list (taking ownership); null installs an empty list.
void SetCompressFormats(StringList* list);
// A null or empty argument changes nothing; otherwise a copy is installed.
void SetSignatureSuffixKey(const char* key);
void SetSignatureSuffixValue(const char* value);

// Frees the owned members; called when the library is unloaded.
void ReleaseSettings();
// Puts every field back to the state the library starts with (for tests).
void ResetSettingsToDefaults();
