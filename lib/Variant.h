// Variant: a value kept as text plus a type tag, converted to native types and JSON on demand.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

#include <nlohmann/json.hpp>

class VariantMap;

class Variant {
public:
    // The numbers are stored in SQLite databases: never renumber.
    enum Type : int { Null = 0, String = 1, Int = 2, UInt = 3, Double = 4, Bool = 5, Map = 6 };

    Variant();
    Variant(const std::string& text);
    // A null pointer gives an empty String.
    Variant(const char* text);
    // Text and type taken unchecked (used when reading stored settings back).
    Variant(const std::string& text, Type type);
    Variant(char value);
    Variant(signed char value);
    Variant(short value);
    Variant(int value);
    Variant(long value);
    Variant(long long value);
    Variant(unsigned char value);
    Variant(unsigned short value);
    Variant(unsigned int value);
    Variant(unsigned long value);
    Variant(unsigned long long value);
    Variant(double value);
    Variant(bool value);
    // The map's toJson() dumped compactly; may throw the type errors of VariantMap::toJson.
    Variant(const VariantMap& map);

    Variant(const Variant&) = default;
    Variant(Variant&&) noexcept = default;
    Variant& operator=(const Variant&) = default;
    Variant& operator=(Variant&&) noexcept = default;
    // Assignment from any of the constructor types goes through the matching constructor.

    Type type() const { return mType; }
    bool isNull() const { return mType == Null; }

    const std::string& toString() const { return mText; }
    // Parsed with String::toInteger, automatic base ("0x" hex, leading "0" octal); tag ignored.
    int64_t toInt() const;
    // As toInt, but texts above the signed 64-bit range still read as unsigned 64-bit values.
    uint64_t toUInt() const;
    double toDouble() const;
    // String::toBool: "on", "true", "high", "1" or a leading "y" (any case) are true.
    bool toBool() const;
    // A Map variant's content; an empty map for any other type. A malformed Map text throws
    // nlohmann's parse error.
    VariantMap toMap() const;
    // The value as JSON: a String whose text starts with "{" and a Map
    // are parsed (nlohmann's parse error propagates); an unknown tag gives null.
    nlohmann::json toJson() const;
    // The Variant of one JSON scalar: string, boolean, signed/unsigned integer, float; null
    // and anything else (containers included) give Null.
    static Variant fromJsonScalar(const nlohmann::json& value);

    // Implicit to text; the numeric conversions are explicit so that comparisons and
    // assignments stay unambiguous (write static_cast<int>(v), or v.toInt()).
    operator std::string() const { return mText; }
    explicit operator char() const;
    explicit operator unsigned char() const;
    explicit operator short() const;
    explicit operator unsigned short() const;
    explicit operator int() const;
    explicit operator unsigned int() const;
    explicit operator long() const;
    explicit operator unsigned long() const;
    explicit operator double() const;
    explicit operator bool() const;

    // Same text byte for byte and same type: Variant(1) != Variant(1u).
    bool operator==(const Variant& other) const {
        return mType == other.mType && mText == other.mText;
    }
    bool operator!=(const Variant& other) const { return !(*this == other); }

    static const char* typeName(Type type);

private:
    std::string mText;
    Type mType;
};

// "Int(5)", "String(abc)": for test failure messages and debugging.
std::ostream& operator<<(std::ostream& out, const Variant& value);

// So that get(key).toMap() works wherever Variant.h is included.
#include "VariantMap.h"
