// SettingStore: path-keyed settings with a change signal, JSON conversion, a log table and
// optional persistence to a JSON file or an SQLite database. Every configuration
// class (`Config`) derives from it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Log.h"
#include "Signal.h"
#include "Variant.h"
#include "VariantMap.h"

class SettingStore {
public:
    enum FileType { Automatic = 0, SQLite = 1, JSON = 2 };

    SettingStore() = default;
    virtual ~SettingStore() = default;
    // Copies carry the settings only: the copy starts with no slots connected.
    SettingStore(const SettingStore& other) : mSettings(other.mSettings) {}
    SettingStore& operator=(const SettingStore& other) {
        mSettings = other.mSettings;
        return *this;
    }

    // Emitted with the key by setValue whenever a value is added or changed, on the thread that
    // changed it. A slot's exception propagates out of setValue (after the value is stored).
    Signal<const std::string&> mChanged;

    // Values.

    // A Map value is stored key by key below key (setValue(key + "/" + k, ...)); any other value
    // with setValue(key, value).
    void set(const std::string& key, const Variant& value);
    // Nothing happens when the key holds an equal value (same text and type); otherwise the
    // value is stored and mChanged is emitted with the key.
    void setValue(const std::string& key, const Variant& value);
    // The exact key's value; else the subtree below key + "/" as a Map variant; else Null.
    Variant get(const std::string& key) const;
    // The key's value, inserting Null first when missing; no signal.
    Variant& operator[](const std::string& key) { return mSettings[key]; }
    bool exists(const std::string& key) const { return mSettings.count(key) != 0; }
    size_t size() const { return mSettings.size(); }
    bool empty() const { return mSettings.empty(); }
    std::vector<std::string> keys() const;
    VariantMap toMap() const { return VariantMap(mSettings); }
    // Removes the key and its subtree; no signal.
    void erase(const std::string& key);
    // setValue for every key of map (signals for the changed ones).
    void merge(const VariantMap& map);
    // Stores every key of map directly, without the signal.
    void updateFromMap(const VariantMap& map);
    // Replaces all settings, without the signal.
    void load(const std::map<std::string, Variant>& settings) { mSettings = settings; }
    static SettingStore fromMap(const VariantMap& map);
    static SettingStore fromJson(const nlohmann::json& json);

    // JSON.

    // Flattens json below path as VariantMap::fromJson does, storing each leaf with setValue.
    void parse(const std::string& path, const nlohmann::json& json);
    // Merge: parse(name, value) for each top-level member (each element under its index for an
    // array, a scalar under ""); keys not mentioned stay.
    void updateFromJson(const nlohmann::json& json);
    // The settings as one document (null when empty). The first segment of a key is always an
    // object member; a later numeric segment indexes an array by its value (so "list/10" comes
    // after "list/9"). Throws nlohmann's type errors 305 (a member asked of a non-object) and
    // 308 (an element asked of a non-array), and std::out_of_range for an index that is negative
    // or above VariantMap::MaxArrayIndex.
    nlohmann::json toJson() const;

    // Files. All return whether they succeeded and log their failures.

    // Type Automatic decides by the extension: one containing "sqlite" or "db" means SQLite,
    // else one containing "json" means JSON, else false is returned and no file is touched.
    bool save(const std::string& path, FileType type = Automatic);
    bool load(const std::string& path, FileType type = Automatic);
    // toJson() dumped with an indent of 4, in one write, into a file created with mode 0644 (or
    // truncated). A document that cannot be built or dumped is logged and gives false, the file
    // untouched.
    bool saveJSON(const std::string& path);
    // Replaces the settings with the file's document (through updateFromJson, so every key read
    // is signalled). A missing file gives false; a parse error propagates (settings unchanged).
    bool loadJSON(const std::string& path);
    // Rewrites the table "settings" (key, value text, type number) in one transaction.
    bool saveSQLite(const std::string& path);
    // Adds or overwrites the stored rows, without the signal.
    bool loadSQLite(const std::string& path);

    // Logs table() at info level, one message per line.
    void print() const;
    // The SETTING/VALUE table that print() logs, one line per element, without line ends.
    std::vector<std::string> table() const;

protected:
    // "[Settings] " + the message, handed to Log.
    void log(Log::Level level, const char* format, ...) const __attribute__((format(printf, 3, 4)));
    void log(Log::Level level, const std::string& text) const;

private:
    std::map<std::string, Variant> mSettings;
};
