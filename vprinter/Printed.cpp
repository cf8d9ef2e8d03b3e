// vprinter::Printed: summaries and helpers.
#include "vprinter/Printed.h"

#include <cstdio>

namespace vprinter {

namespace {

std::string quoted(const Bytes& bytes) {
    std::string out = "\"";
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        }
    }
    return out + "\"";
}

} // namespace

std::string hex(const Bytes& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02x", c);
        if (!out.empty())
            out += ' ';
        out += buf;
    }
    return out;
}

std::string TextStyle::describe() const {
    std::string out;
    auto add = [&out](const std::string& s) {
        if (!out.empty())
            out += ' ';
        out += s;
    };
    if (align == Align::Center)
        add("align=center");
    else if (align == Align::Right)
        add("align=right");
    if (bold)
        add("bold");
    if (underline)
        add("underline");
    if (font != 0)
        add(font == 1 ? "font=B" : "font=" + std::to_string(font));
    if (width != 1 || height != 1)
        add("size=" + std::to_string(width) + "x" + std::to_string(height));
    if (upsideDown)
        add("upside-down");
    if (spacing != 0)
        add("spacing=" + std::to_string(spacing));
    if (codeTable != 0)
        add("table=" + std::to_string(codeTable));
    return out.empty() ? "plain" : out;
}

const char* kindName(Printed::Kind kind) {
    switch (kind) {
    case Printed::Kind::Text:
        return "Text";
    case Printed::Kind::Raster:
        return "Raster";
    case Printed::Kind::Barcode:
        return "Barcode";
    case Printed::Kind::Feed:
        return "Feed";
    case Printed::Kind::Cut:
        return "Cut";
    case Printed::Kind::Style:
        return "Style";
    case Printed::Kind::Command:
        return "Command";
    case Printed::Kind::Unknown:
        return "Unknown";
    }
    return "?";
}

std::string Printed::describe() const {
    switch (kind) {
    case Kind::Text:
        return "TEXT " + quoted(bytes) + " [" + style.describe() + "]" +
               (lineFeed ? "" : " (no LF)");
    case Kind::Raster:
        return "RASTER " + std::to_string(width) + "x" + std::to_string(height) + " (" + name +
               " " + std::to_string(rasterMode) + ")";
    case Kind::Barcode:
        return "BARCODE m=" + std::to_string(barcodeType) + " hri=" + std::to_string(hri) + " " +
               quoted(bytes);
    case Kind::Feed:
        return "FEED " + std::to_string(lines);
    case Kind::Cut:
        return std::string("CUT ") + (full ? "full" : "partial") + " (" + name + ")";
    case Kind::Style:
        return "STYLE " + name + " " + std::to_string(value) + " [" + style.describe() + "]";
    case Kind::Command:
        return "COMMAND " + name + (hasValue ? " " + std::to_string(value) : "");
    case Kind::Unknown:
        return "UNKNOWN " + hex(raw);
    }
    return "?";
}

std::vector<Printed> ofKind(const std::vector<Printed>& items, Printed::Kind kind) {
    std::vector<Printed> out;
    for (const auto& item : items)
        if (item.kind == kind)
            out.push_back(item);
    return out;
}

std::vector<std::string> textLines(const std::vector<Printed>& items) {
    std::vector<std::string> out;
    for (const auto& item : items)
        if (item.kind == Printed::Kind::Text)
            out.push_back(item.text());
    return out;
}

} // namespace vprinter
