// Variant: text plus type tag.
#include "Variant.h"

#include <cstdlib>
#include <limits>
#include <ostream>

#include "String.h"
#include "VariantMap.h"

Variant::Variant() : mType(Null) {}
Variant::Variant(const std::string& text) : mText(text), mType(String) {}
Variant::Variant(const char* text) : mText(text ? text : ""), mType(String) {}
Variant::Variant(const std::string& text, Type type) : mText(text), mType(type) {}

Variant::Variant(char value) : mText(std::to_string(static_cast<int>(value))), mType(Int) {}
Variant::Variant(signed char value) : mText(std::to_string(static_cast<int>(value))), mType(Int) {}
Variant::Variant(short value) : mText(std::to_string(value)), mType(Int) {}
Variant::Variant(int value) : mText(std::to_string(value)), mType(Int) {}
Variant::Variant(long value) : mText(std::to_string(value)), mType(Int) {}
Variant::Variant(long long value) : mText(std::to_string(value)), mType(Int) {}
Variant::Variant(unsigned char value)
    : mText(std::to_string(static_cast<unsigned>(value))), mType(UInt) {}
Variant::Variant(unsigned short value)
    : mText(std::to_string(static_cast<unsigned>(value))), mType(UInt) {}
Variant::Variant(unsigned int value) : mText(std::to_string(value)), mType(UInt) {}
Variant::Variant(unsigned long value) : mText(std::to_string(value)), mType(UInt) {}
Variant::Variant(unsigned long long value) : mText(std::to_string(value)), mType(UInt) {}
Variant::Variant(double value) : mText(::String::fromDouble(value)), mType(Double) {}
Variant::Variant(bool value) : mText(::String::fromBool(value)), mType(Bool) {}
Variant::Variant(const VariantMap& map) : mText(map.toJson().dump()), mType(Map) {}

int64_t Variant::toInt() const {
    return ::String::toInteger(mText, 0);
}

uint64_t Variant::toUInt() const {
    const int64_t value = ::String::toInteger(mText, 0);
    if (value != std::numeric_limits<int64_t>::max())
        return static_cast<uint64_t>(value);
    // strtoll saturated (or the text is exactly INT64_MAX): read the full unsigned range, so an
    // unsigned 64-bit value from JSON survives the round trip. Same automatic base.
    return static_cast<uint64_t>(std::strtoull(mText.c_str(), nullptr, 0));
}

double Variant::toDouble() const {
    return ::String::toDouble(mText);
}
bool Variant::toBool() const {
    return ::String::toBool(mText);
}

VariantMap Variant::toMap() const {
    VariantMap map;
    if (mType == Map)
        map.fromJson(nlohmann::json::parse(mText));
    return map;
}

nlohmann::json Variant::toJson() const {
    switch (mType) {
    case Null:
        return nullptr;
    case Int:
        return toInt();
    case UInt:
        return toUInt();
    case Double:
        return toDouble();
    case Bool:
        return toBool();
    case String:
        if (!mText.empty() && mText[0] == '{')
            return nlohmann::json::parse(mText);
        return mText;
    case Map:
        return nlohmann::json::parse(mText);
    }
    return nullptr;
}

Variant Variant::fromJsonScalar(const nlohmann::json& value) {
    switch (value.type()) {
    case nlohmann::json::value_t::string:
        return Variant(value.get_ref<const std::string&>());
    case nlohmann::json::value_t::boolean:
        return Variant(value.get<bool>());
    case nlohmann::json::value_t::number_integer:
        return Variant(value.get<int64_t>());
    case nlohmann::json::value_t::number_unsigned:
        return Variant(value.get<uint64_t>());
    case nlohmann::json::value_t::number_float:
        return Variant(value.get<double>());
    default:
        return Variant();
    }
}

Variant::operator char() const {
    return static_cast<char>(toInt());
}
Variant::operator unsigned char() const {
    return static_cast<unsigned char>(toUInt());
}
Variant::operator short() const {
    return static_cast<short>(toInt());
}
Variant::operator unsigned short() const {
    return static_cast<unsigned short>(toUInt());
}
Variant::operator int() const {
    return static_cast<int>(toInt());
}
Variant::operator unsigned int() const {
    return static_cast<unsigned int>(toUInt());
}
Variant::operator long() const {
    return static_cast<long>(toInt());
}
Variant::operator unsigned long() const {
    return static_cast<unsigned long>(toUInt());
}
Variant::operator double() const {
    return toDouble();
}
Variant::operator bool() const {
    return toBool();
}

const char* Variant::typeName(Type type) {
    switch (type) {
    case Null:
        return "Null";
    case String:
        return "String";
    case Int:
        return "Int";
    case UInt:
        return "UInt";
    case Double:
        return "Double";
    case Bool:
        return "Bool";
    case Map:
        return "Map";
    }
    return "Unknown";
}

std::ostream& operator<<(std::ostream& out, const Variant& value) {
    return out << Variant::typeName(value.type()) << '(' << value.toString() << ')';
}
