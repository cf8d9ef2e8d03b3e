// Types::Style: how printed text looks (alignment, font, emphasis, upside-down, spacing, size).
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>

namespace zelvo::PrinterManager::Types {

// A plain value, copied freely. The setters store what they are given without range checks:
// callers and drivers check ranges.
class Style {
public:
    // Horizontal alignment of text lines (32-bit; any 32-bit value may be stored).
    enum Align : int32_t { Left = 0, Center = 1, Right = 2 };
    // Character font (32-bit; any 32-bit value may be stored).
    enum FontType : int32_t { FontA = 0, FontB = 1 };

    // The defaults: left, font A, bold off, underlined off, reverse (upside-down) ON, space 0,
    // size 0.
    Style();
    // The defaults, then updateFromJson(json).
    explicit Style(const nlohmann::json& json);
    virtual ~Style();

    Style(const Style&) = default;
    Style& operator=(const Style&) = default;
    Style(Style&&) = default;
    Style& operator=(Style&&) = default;

    // Back to the defaults of Style().
    void setDefaults();

    // Updates the members named in a JSON object, in the order align, type, bold, underlined,
    // reverse, space, size; stops at the first error (earlier members keep their new values).
    // Wrong JSON type: nlohmann::json::type_error 302; unknown align/type name: std::out_of_range.
    void updateFromJson(const nlohmann::json& json);
    // {"align","type","bold","underlined","reverse","space","size"}; "Undefined" for unknown
    // align/type values.
    nlohmann::json toJson() const;

    Align getAlign() const { return mAlign; }
    FontType getType() const { return mType; }
    bool getBold() const { return mBold; }
    bool getUnderlined() const { return mUnderlined; }
    bool getReverse() const { return mReverse; }
    unsigned long getSpace() const { return mSpace; }
    unsigned long getSize() const { return mSize; }

    void setAlign(Align align) { mAlign = align; }
    void setType(FontType type) { mType = type; }
    void setBold(bool bold) { mBold = bold; }
    void setUnderlined(bool underlined) { mUnderlined = underlined; }
    void setReverse(bool reverse) { mReverse = reverse; }
    void setSpace(unsigned long space) { mSpace = space; }
    void setSize(unsigned long size) { mSize = size; }

private:
    Align mAlign;         // alignment of text lines
    FontType mType;       // character font
    bool mBold;           // emphasised characters
    bool mUnderlined;     // underlined characters
    bool mReverse;        // upside-down (180 degrees) printing
    unsigned long mSpace; // extra right-side character spacing, in dots
    unsigned long mSize;  // magnification step, 0 = normal size
};

static_assert(sizeof(unsigned long) == 8, "Style's space and size are unsigned 64-bit");

} // namespace zelvo::PrinterManager::Types
