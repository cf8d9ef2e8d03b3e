// Types::Barcode: a one-dimensional barcode to print (data, symbology, readable-digit position).
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace zelvo::PrinterManager::Types {

// A plain value, copied freely. The code is not checked: whether the symbology can encode it is
// the driver's or the printer's concern.
class Barcode {
public:
    // Symbology (32-bit).
    enum Type : int32_t {
        UPCA = 0,
        UPCE = 1,
        JAN13 = 2,
        JAN8 = 3,
        CODE39 = 4,
        ITF = 5,
        CODABAR = 6,
        CODE93 = 7,
        CODE128 = 8,
        CODE32 = 9,
    };
    // Where the human-readable interpretation (HRI) digits go (32-bit).
    enum HRI : int32_t { None = 0, Over = 1, Under = 2, Both = 3 };

    // Names of the symbologies, exact and case-sensitive; "" selects UPCA (11 entries).
    static const std::map<std::string, Type> typemap;
    // Names of the HRI positions, exact and case-sensitive; "" selects None (5 entries).
    static const std::map<std::string, HRI> hrimap;

    // Looks up `type` in typemap, then `hri` in hrimap; an unknown name throws
    // std::out_of_range "map::at".
    Barcode(const std::string& code, const std::string& type, const std::string& hri);
    // Stores the values unchanged.
    Barcode(const std::string& code, Type type, HRI hri);
    virtual ~Barcode();

    Barcode(const Barcode&) = default;
    Barcode& operator=(const Barcode&) = default;
    Barcode(Barcode&&) = default;
    Barcode& operator=(Barcode&&) = default;

    const std::string& code() const { return mCode; }
    Type type() const { return mType; }
    HRI hri() const { return mHri; }

private:
    std::string mCode; // the data to encode, passed on unchanged
    Type mType;        // symbology
    HRI mHri;          // position of the readable digits
};

} // namespace zelvo::PrinterManager::Types
