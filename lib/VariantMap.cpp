// VariantMap: path-keyed variants and their JSON form.
#include "VariantMap.h"

#include <algorithm>
#include <iterator>
#include <list>
#include <stdexcept>

#include "String.h"
#include "Utils.h"

namespace {

bool hasWildcard(const std::string& key) {
    return key.find_first_of("*?") != std::string::npos;
}

// Calls visit(entryKey, rest) for every entry below key + "/", in key order, where rest is the
// entry key without the leading key and its "/". A key without wildcards is a plain prefix (a
// range of the sorted map); one with "?" or "*" is matched with Utils::match.
template <typename Map, typename Visit>
void forEachBelow(Map& map, const std::string& key, Visit visit) {
    const std::string prefix = key + "/";
    if (!hasWildcard(key)) {
        for (auto it = map.lower_bound(prefix);
             it != map.end() && it->first.compare(0, prefix.size(), prefix) == 0;) {
            auto next = std::next(it);
            visit(it, it->first.substr(prefix.size()));
            it = next;
        }
        return;
    }
    const std::string pattern = prefix + "*";
    for (auto it = map.begin(); it != map.end();) {
        auto next = std::next(it);
        if (Utils::match(it->first, pattern))
            visit(it, it->first.size() > prefix.size() ? it->first.substr(prefix.size())
                                                       : std::string());
        it = next;
    }
}

[[noreturn]] void throwTypeError(int id, const std::string& what, const nlohmann::json* node) {
    throw nlohmann::json::type_error::create(id, what + node->type_name(), node);
}

} // namespace

const Variant& VariantMap::operator[](const std::string& key) const {
    const auto it = mMap.find(key);
    if (it == mMap.end())
        throw std::out_of_range("Key not found: " + key);
    return it->second;
}

void VariantMap::set(const std::string& key, const Variant& value) {
    if (value.type() != Variant::Map) {
        mMap[key] = value;
        return;
    }
    const VariantMap content = value.toMap();
    for (const auto& [subKey, subValue] : content.mMap)
        mMap[joinPath(key, subKey)] = subValue;
}

Variant VariantMap::get(const std::string& key) const {
    return subtree(mMap, key);
}

void VariantMap::erase(const std::string& key) {
    eraseTree(mMap, key);
}

std::vector<std::string> VariantMap::keys() const {
    std::vector<std::string> out;
    out.reserve(mMap.size());
    for (const auto& entry : mMap)
        out.push_back(entry.first);
    return out;
}

VariantMap& VariantMap::merge(const VariantMap& other) {
    for (const auto& [key, value] : other.mMap)
        mMap[key] = value;
    return *this;
}

VariantMap& VariantMap::fromJson(const nlohmann::json& json) {
    Container fresh;
    flattenDocument(json,
                    [&fresh](const std::string& key, const Variant& value) { fresh[key] = value; });
    mMap.swap(fresh);
    return *this;
}

nlohmann::json VariantMap::toJson() const {
    nlohmann::json root;
    for (const auto& [key, value] : mMap) {
        const std::list<std::string> segments = String::tokenize(key, "/");
        if (segments.empty())
            continue;
        nlohmann::json* node = &root;
        bool skipped = false;
        for (const std::string& segment : segments) {
            if (String::isNumeric(segment)) {
                if (node->is_null())
                    *node = nlohmann::json::array();
                else if (!node->is_array())
                    throwTypeError(305, "cannot use operator[] with a numeric argument with ",
                                   node);
                const size_t index = arrayIndex(key, segment);
                while (node->size() <= index)
                    node->push_back(nullptr);
                node = &(*node)[index];
            } else {
                if (node->is_array() && segment == "_size") {
                    skipped = true;
                    break;
                }
                if (node->is_null())
                    *node = nlohmann::json::object();
                else if (!node->is_object())
                    throwTypeError(305, "cannot use operator[] with a string argument with ", node);
                node = &(*node)[segment];
            }
        }
        if (!skipped)
            *node = value.toJson();
    }
    return root;
}

std::string VariantMap::toString() const {
    std::string out;
    for (const std::string& line : table(mMap, "KEY", "VALUE")) {
        out += line;
        out += '\n';
    }
    return out;
}

std::string VariantMap::joinPath(const std::string& a, const std::string& b) {
    return a.empty() ? b : a + "/" + b;
}

void VariantMap::flatten(const std::string& path, const nlohmann::json& json,
                         const std::function<void(const std::string&, const Variant&)>& store) {
    if (json.is_object()) {
        for (const auto& item : json.items())
            flatten(joinPath(path, item.key()), item.value(), store);
    } else if (json.is_array()) {
        for (size_t i = 0; i < json.size(); ++i)
            flatten(joinPath(path, std::to_string(i)), json[i], store);
    } else {
        store(path, Variant::fromJsonScalar(json));
    }
}

void VariantMap::flattenDocument(
    const nlohmann::json& json,
    const std::function<void(const std::string&, const Variant&)>& store) {
    if (json.is_null())
        return;
    flatten(std::string(), json, store);
}

Variant VariantMap::subtree(const Container& map, const std::string& key) {
    const auto exact = map.find(key);
    if (exact != map.end())
        return exact->second;
    VariantMap found;
    forEachBelow(map, key, [&found](Container::const_iterator it, const std::string& rest) {
        found.set(rest, it->second);
    });
    return found.empty() ? Variant() : Variant(found);
}

void VariantMap::eraseTree(Container& map, const std::string& key) {
    map.erase(key);
    forEachBelow(map, key, [&map](Container::iterator it, const std::string&) { map.erase(it); });
}

size_t VariantMap::arrayIndex(const std::string& key, const std::string& segment) {
    const int64_t index = String::toInteger(segment, 10);
    if (index < 0 || static_cast<uint64_t>(index) > MaxArrayIndex)
        throw std::out_of_range("Array index '" + segment + "' in key '" + key +
                                "' is out of range (0 to " + std::to_string(MaxArrayIndex) + ")");
    return static_cast<size_t>(index);
}

std::vector<std::string> VariantMap::table(const Container& map, const char* keyTitle,
                                           const char* valueTitle) {
    size_t w1 = 10, w2 = 10;
    for (const auto& [key, value] : map) {
        w1 = std::max(w1, key.size());
        w2 = std::max(w2, value.toString().size());
    }
    const int k = static_cast<int>(w1), v = static_cast<int>(w2);
    const std::string border =
        "+" + std::string(w1 + 2, '-') + "+" + std::string(w2 + 2, '-') + "+";
    std::vector<std::string> lines;
    lines.reserve(map.size() + 4);
    lines.push_back(border);
    lines.push_back(String::format("| %-*s | %-*s |", k, keyTitle, v, valueTitle));
    lines.push_back(border);
    for (const auto& [key, value] : map)
        lines.push_back(
            String::format("| %-*s : %-*s |", k, key.c_str(), v, value.toString().c_str()));
    lines.push_back(border);
    return lines;
}
