// VariantMap: a flat dictionary of path keys ("printer/style/bold", "list/0") to Variant values,
// converted to and from whole JSON documents.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Variant.h"

class VariantMap {
public:
    using Container = std::map<std::string, Variant>;
    using const_iterator = Container::const_iterator;

    // The largest decimal path segment used as an array index by toJson (here and in
    // SettingStore). A numeric segment that is negative or above it is rejected with
    // std::out_of_range instead of growing an array to that size.
    static constexpr size_t MaxArrayIndex = 65535;

    VariantMap() = default;
    VariantMap(const Container& map) : mMap(map) {}
    virtual ~VariantMap() = default;
    VariantMap(const VariantMap&) = default;
    VariantMap(VariantMap&&) noexcept = default;
    VariantMap& operator=(const VariantMap&) = default;
    VariantMap& operator=(VariantMap&&) noexcept = default;

    bool exists(const std::string& key) const { return mMap.count(key) != 0; }
    size_t size() const { return mMap.size(); }
    bool empty() const { return mMap.empty(); }

    // The exact key; throws std::out_of_range "Key not found: <key>" when missing.
    const Variant& operator[](const std::string& key) const;
    // The exact key, inserting a Null value first when missing.
    Variant& operator[](const std::string& key) { return mMap[key]; }

    // A Map value is stored flattened under key (no entry named key itself); any other value
    // is stored under key.
    void set(const std::string& key, const Variant& value);
    // The exact key's value; else the subtree below key + "/" as a Map variant; else Null.
    Variant get(const std::string& key) const;
    // Removes the key and its whole subtree (keys matching key + "/*").
    void erase(const std::string& key);
    std::vector<std::string> keys() const;
    // Every key of other is added or overwritten here.
    VariantMap& merge(const VariantMap& other);

    bool operator==(const VariantMap& other) const { return mMap == other.mMap; }
    bool operator!=(const VariantMap& other) const { return !(*this == other); }

    // Replaces the contents with the flattening of json.
    VariantMap& fromJson(const nlohmann::json& json);
    // Builds the document from the paths; throws nlohmann's type error 305 for contradicting
    // keys and std::out_of_range for a negative or too large array index.
    nlohmann::json toJson() const;
    // The KEY/VALUE text table, one line per entry, every line ending with "\n".
    std::string toString() const;

    const_iterator begin() const { return mMap.begin(); }
    const_iterator end() const { return mMap.end(); }
    const Container& map() const { return mMap; }

    // Helpers shared with SettingStore, which keeps the same kind of container.

    // a + "/" + b, or b alone when a is empty.
    static std::string joinPath(const std::string& a, const std::string& b);
    // Flattens json under path, calling store(key, leaf) for every leaf in document order:
    // objects by member name, arrays by decimal index, scalars by type, null as Null, empty
    // containers leave nothing.
    static void flatten(const std::string& path, const nlohmann::json& json,
                        const std::function<void(const std::string&, const Variant&)>& store);
    // Flattens a whole document: the members (or elements) of a top-level container under their
    // names (indexes), a top-level scalar under "", a top-level null gives nothing.
    static void
    flattenDocument(const nlohmann::json& json,
                    const std::function<void(const std::string&, const Variant&)>& store);
    // get() over a container.
    static Variant subtree(const Container& map, const std::string& key);
    // erase() over a container.
    static void eraseTree(Container& map, const std::string& key);
    // The array index of a numeric segment of key; std::out_of_range naming the key when it is
    // negative or above MaxArrayIndex.
    static size_t arrayIndex(const std::string& key, const std::string& segment);
    // The lines of a two-column table (no line ends), both columns at least 10 wide.
    static std::vector<std::string> table(const Container& map, const char* keyTitle,
                                          const char* valueTitle);

private:
    Container mMap;
};
