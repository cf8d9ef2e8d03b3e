// Types::Barcode: the name maps and the constructors.
#include "types/Barcode.h"

namespace zelvo::PrinterManager::Types {

const std::map<std::string, Barcode::Type> Barcode::typemap{
    {"", UPCA},         {"UPCA", UPCA},       {"UPCE", UPCE},     {"JAN13", JAN13},
    {"JAN8", JAN8},     {"CODE39", CODE39},   {"ITF", ITF},       {"CODABAR", CODABAR},
    {"CODE93", CODE93}, {"CODE128", CODE128}, {"CODE32", CODE32},
};

const std::map<std::string, Barcode::HRI> Barcode::hrimap{
    {"", None}, {"none", None}, {"over", Over}, {"under", Under}, {"both", Both},
};

// The type is looked up first, so a barcode with two bad names fails on its type.
Barcode::Barcode(const std::string& code, const std::string& type, const std::string& hri)
    : mCode(code), mType(typemap.at(type)), mHri(hrimap.at(hri)) {}

Barcode::Barcode(const std::string& code, Type type, HRI hri)
    : mCode(code), mType(type), mHri(hri) {}

Barcode::~Barcode() = default;

} // namespace zelvo::PrinterManager::Types
