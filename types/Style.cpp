// Types::Style: defaults, the JSON form and the JSON update.
#include "types/Style.h"

#include <cmath>
#include <limits>
#include <map>
#include <string>

namespace zelvo::PrinterManager::Types {

using json = nlohmann::json;

namespace {

// The JSON library's own error for a value of the wrong type: type_error 302, with the same
// text its get<>() conversions use ("type must be string, but is number").
[[noreturn]] void throwTypeError(const char* expected, const json& value) {
    throw json::type_error::create(
        302, std::string("type must be ") + expected + ", but is " + value.type_name(), &value);
}

const std::string& toStringRef(const json& value) {
    if (!value.is_string()) {
        throwTypeError("string", value);
    }
    return value.get_ref<const std::string&>();
}

bool toBool(const json& value) {
    if (!value.is_boolean()) {
        throwTypeError("boolean", value);
    }
    return value.get<bool>();
}

// Any JSON number to the unsigned 64-bit field. nlohmann's get<uint64_t>() would accept
// booleans and convert floats with a plain cast (undefined for negative or huge values), so
// the conversion is done here:
// - unsigned: unchanged; signed: wraps modulo 2^64 (-1 gives 2^64 - 1);
// - floating point: truncated toward zero, then as a signed or unsigned integer; values past
//   the 64-bit ranges saturate: >= 2^64 (and +inf) gives 2^64 - 1, < -2^63 (and -inf) gives
//   -2^63 wrapped, i.e. 2^63; NaN (not producible by the parser) gives 0.
unsigned long toUnsigned(const json& value) {
    if (!value.is_number()) {
        throwTypeError("number", value);
    }
    if (value.is_number_unsigned()) {
        return value.get<std::uint64_t>();
    }
    if (value.is_number_integer()) {
        return static_cast<std::uint64_t>(value.get<std::int64_t>());
    }
    const double number = value.get<double>();
    constexpr double twoTo64 = 18446744073709551616.0;      // 2^64, exact in a double
    constexpr double minusTwoTo63 = -9223372036854775808.0; // -2^63, exact in a double
    if (std::isnan(number)) {
        return 0;
    }
    if (number >= twoTo64) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    if (number >= 0.0) {
        return static_cast<std::uint64_t>(number); // in [0, 2^64): defined
    }
    if (number < minusTwoTo63) {
        return static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::min());
    }
    return static_cast<std::uint64_t>(static_cast<std::int64_t>(number)); // in [-2^63, 0)
}

} // namespace

Style::Style() {
    setDefaults();
}

Style::Style(const json& value) : Style() {
    updateFromJson(value);
}

Style::~Style() = default;

void Style::setDefaults() {
    mAlign = Left;
    mType = FontA;
    mBold = false;
    mUnderlined = false;
    mReverse = true;
    mSpace = 0;
    mSize = 0;
}

void Style::updateFromJson(const json& value) {
    static const std::map<std::string, Align> mapAlign{
        {"left", Left}, {"center", Center}, {"right", Right}};
    static const std::map<std::string, FontType> mapType{{"A", FontA}, {"B", FontB}};

    // Only an object holds keys; any other JSON value changes nothing.
    if (!value.is_object()) {
        return;
    }
    auto present = [&value](const char* key, auto apply) {
        const auto it = value.find(key);
        if (it != value.end()) {
            apply(*it);
        }
    };
    present("align", [this](const json& v) { mAlign = mapAlign.at(toStringRef(v)); });
    present("type", [this](const json& v) { mType = mapType.at(toStringRef(v)); });
    present("bold", [this](const json& v) { mBold = toBool(v); });
    present("underlined", [this](const json& v) { mUnderlined = toBool(v); });
    present("reverse", [this](const json& v) { mReverse = toBool(v); });
    present("space", [this](const json& v) { mSpace = toUnsigned(v); });
    present("size", [this](const json& v) { mSize = toUnsigned(v); });
}

json Style::toJson() const {
    const char* align = "Undefined";
    switch (mAlign) {
    case Left:
        align = "left";
        break;
    case Center:
        align = "center";
        break;
    case Right:
        align = "right";
        break;
    }
    const char* type = "Undefined";
    switch (mType) {
    case FontA:
        type = "A";
        break;
    case FontB:
        type = "B";
        break;
    }
    json out = json::object();
    out["align"] = align;
    out["type"] = type;
    out["bold"] = mBold;
    out["underlined"] = mUnderlined;
    out["reverse"] = mReverse;
    out["space"] = mSpace;
    out["size"] = mSize;
    return out;
}

} // namespace zelvo::PrinterManager::Types
