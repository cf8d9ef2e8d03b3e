// Types::QrCode: the level name map and the constructors.
#include "types/QrCode.h"

namespace zelvo::PrinterManager::Types {

const std::map<std::string, QrCode::ErrorCorrection> QrCode::ecmap{
    {"", Medium},           {"l", Low},         {"low", Low},
    {"m", Medium},          {"medium", Medium}, {"q", Quartile},
    {"quartile", Quartile}, {"h", High},        {"high", High},
};

QrCode::QrCode(const std::string& code, const std::string& level)
    : mCode(code), mErrorCorrection(ecmap.at(level)) {}

QrCode::QrCode(const std::string& code, ErrorCorrection errorCorrection)
    : mCode(code), mErrorCorrection(errorCorrection) {}

QrCode::~QrCode() = default;

} // namespace zelvo::PrinterManager::Types
