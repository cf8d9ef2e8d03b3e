// SettingStore: settings, change signal, JSON, log table, files.
#include "SettingStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <exception>
#include <fstream>

#include <SQLiteCpp/SQLiteCpp.h>

#include "String.h"
#include "Utils.h"

void SettingStore::set(const std::string& key, const Variant& value) {
    if (value.type() != Variant::Map) {
        setValue(key, value);
        return;
    }
    const VariantMap content = value.toMap();
    for (const auto& [subKey, subValue] : content)
        setValue(VariantMap::joinPath(key, subKey), subValue);
}

void SettingStore::setValue(const std::string& key, const Variant& value) {
    const auto it = mSettings.find(key);
    if (it != mSettings.end()) {
        if (it->second == value)
            return;
        it->second = value;
    } else {
        mSettings.emplace(key, value);
    }
    mChanged.emit(key);
}

Variant SettingStore::get(const std::string& key) const {
    return VariantMap::subtree(mSettings, key);
}

std::vector<std::string> SettingStore::keys() const {
    std::vector<std::string> out;
    out.reserve(mSettings.size());
    for (const auto& entry : mSettings)
        out.push_back(entry.first);
    return out;
}

void SettingStore::erase(const std::string& key) {
    VariantMap::eraseTree(mSettings, key);
}

void SettingStore::merge(const VariantMap& map) {
    for (const auto& [key, value] : map)
        setValue(key, value);
}

void SettingStore::updateFromMap(const VariantMap& map) {
    for (const auto& [key, value] : map)
        mSettings[key] = value;
}

SettingStore SettingStore::fromMap(const VariantMap& map) {
    SettingStore store;
    store.updateFromMap(map);
    return store;
}

SettingStore SettingStore::fromJson(const nlohmann::json& json) {
    SettingStore store;
    store.updateFromJson(json);
    return store;
}

void SettingStore::parse(const std::string& path, const nlohmann::json& json) {
    VariantMap::flatten(
        path, json, [this](const std::string& key, const Variant& value) { setValue(key, value); });
}

void SettingStore::updateFromJson(const nlohmann::json& json) {
    VariantMap::flattenDocument(
        json, [this](const std::string& key, const Variant& value) { setValue(key, value); });
}

namespace {
[[noreturn]] void throwTypeError(int id, const std::string& what, const nlohmann::json* node) {
    throw nlohmann::json::type_error::create(id, what + node->type_name(), node);
}
} // namespace

nlohmann::json SettingStore::toJson() const {
    nlohmann::json root;
    for (const auto& [key, value] : mSettings) {
        const std::vector<std::string> segments = String::tokenizeV(key, "/");
        nlohmann::json* node = &root;
        for (size_t i = 0; i < segments.size(); ++i) {
            const std::string& segment = segments[i];
            if (i > 0 && String::isNumeric(segment)) {
                // The member before this segment is an array; the element sits at its index.
                if (node->is_null())
                    *node = nlohmann::json::array();
                else if (!node->is_array())
                    throwTypeError(308, "cannot use push_back() with ", node);
                const size_t index = VariantMap::arrayIndex(key, segment);
                while (node->size() <= index)
                    node->push_back(nullptr);
                node = &(*node)[index];
            } else {
                if (node->is_null())
                    *node = nlohmann::json::object();
                else if (!node->is_object())
                    throwTypeError(305, "cannot use operator[] with a string argument with ", node);
                node = &(*node)[segment];
            }
        }
        if (!segments.empty())
            *node = value.toJson();
    }
    return root;
}

namespace {
// The file type for path, or Automatic when it cannot be told.
SettingStore::FileType resolveType(const std::string& path, SettingStore::FileType type) {
    if (type != SettingStore::Automatic)
        return type;
    const std::string extension = Utils::getFileExtension(path);
    if (extension.find("sqlite") != std::string::npos || extension.find("db") != std::string::npos)
        return SettingStore::SQLite;
    if (extension.find("json") != std::string::npos)
        return SettingStore::JSON;
    return SettingStore::Automatic;
}
} // namespace

bool SettingStore::save(const std::string& path, FileType type) {
    switch (resolveType(path, type)) {
    case SQLite:
        return saveSQLite(path);
    case JSON:
        return saveJSON(path);
    default:
        log(Log::Warning, "save(): no file type for '%s'.", path.c_str());
        return false;
    }
}

bool SettingStore::load(const std::string& path, FileType type) {
    switch (resolveType(path, type)) {
    case SQLite:
        return loadSQLite(path);
    case JSON:
        return loadJSON(path);
    default:
        log(Log::Warning, "load(): no file type for '%s'.", path.c_str());
        return false;
    }
}

bool SettingStore::saveJSON(const std::string& path) {
    // Built before the file is opened, so a contradicting setting leaves the file as it was.
    std::string text;
    try {
        text = toJson().dump(4);
    } catch (const std::exception& e) {
        log(Log::Error, "saveJSON(): could not convert the settings for '%s': %s", path.c_str(),
            e.what());
        return false;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        log(Log::Error, "saveJSON(): could not open file '%s': %s.", path.c_str(),
            std::strerror(errno));
        return false;
    }
    const ssize_t written = ::write(fd, text.data(), text.size());
    const int error = errno;
    ::close(fd);
    if (written < 0) {
        log(Log::Error, "saveJSON(): could not write in file '%s': %s", path.c_str(),
            std::strerror(error));
        return false;
    }
    if (static_cast<size_t>(written) != text.size()) {
        log(Log::Error, "saveJSON(): partial write in file '%s': %d/%d", path.c_str(),
            static_cast<int>(written), static_cast<int>(text.size()));
        return false;
    }
    return true;
}

bool SettingStore::loadJSON(const std::string& path) {
    std::ifstream in(path);
    if (!in.is_open()) {
        log(Log::Error, "loadJSON(): could not open file '%s'.", path.c_str());
        return false;
    }
    const nlohmann::json document = nlohmann::json::parse(in);
    mSettings.clear();
    updateFromJson(document);
    return true;
}

bool SettingStore::saveSQLite(const std::string& path) {
    try {
        ::SQLite::Database db(path, ::SQLite::OPEN_READWRITE | ::SQLite::OPEN_CREATE, 2000);
        db.exec("DROP TABLE IF EXISTS settings");
        ::SQLite::Transaction transaction(db);
        db.exec("CREATE TABLE settings (key TEXT PRIMARY KEY, value TEXT, type INTEGER)");
        ::SQLite::Statement insert(db, "INSERT INTO settings VALUES (?, ?, ?)");
        for (const auto& [key, value] : mSettings) {
            insert.bind(1, key);
            insert.bind(2, value.toString());
            insert.bind(3, static_cast<int>(value.type()));
            insert.exec();
            insert.reset();
        }
        transaction.commit();
        return true;
    } catch (const std::exception& e) {
        log(Log::Error, "saveSQLite(): %s", e.what());
        return false;
    }
}

bool SettingStore::loadSQLite(const std::string& path) {
    try {
        ::SQLite::Database db(path, ::SQLite::OPEN_READONLY);
        ::SQLite::Statement query(db, "SELECT * FROM settings");
        // Read whole before applying, so a failing read changes nothing.
        std::map<std::string, Variant> rows;
        while (query.executeStep()) {
            const ::SQLite::Column text = query.getColumn(1);
            rows[query.getColumn(0).getString()] =
                Variant(text.isNull() ? std::string() : text.getString(),
                        static_cast<Variant::Type>(query.getColumn(2).getInt()));
        }
        for (auto& [key, value] : rows)
            mSettings[key] = std::move(value);
        return true;
    } catch (const std::exception& e) {
        log(Log::Error, "loadSQLite(): %s", e.what());
        return false;
    }
}

std::vector<std::string> SettingStore::table() const {
    return VariantMap::table(mSettings, "SETTING", "VALUE");
}

void SettingStore::print() const {
    for (const std::string& line : table())
        log(Log::Info, line);
}

void SettingStore::log(Log::Level level, const char* format, ...) const {
    const std::string prefixed = std::string("[Settings] ") + format;
    va_list args;
    va_start(args, format);
    Log::vprint(level, prefixed.c_str(), args);
    va_end(args);
}

void SettingStore::log(Log::Level level, const std::string& text) const {
    Log::print(level, "[Settings] " + text);
}
