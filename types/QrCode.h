// Types::QrCode: a QR code to print (data and error-correction level).
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace zelvo::PrinterManager::Types {

// A plain value, copied freely. The code is not checked here: an empty code is accepted
// (the MQTT service rejects it itself).
class QrCode {
public:
    // The four error-correction levels of the QR code standard (32-bit).
    enum ErrorCorrection : int32_t { Low = 0, Medium = 1, Quartile = 2, High = 3 };

    // Level names, exact and case-sensitive; "" selects Medium (9 entries).
    static const std::map<std::string, ErrorCorrection> ecmap;

    // Looks `level` up in ecmap; an unknown name throws std::out_of_range "map::at".
    QrCode(const std::string& code, const std::string& level);
    // Stores the values unchanged.
    QrCode(const std::string& code, ErrorCorrection errorCorrection);
    virtual ~QrCode();

    QrCode(const QrCode&) = default;
    QrCode& operator=(const QrCode&) = default;
    QrCode(QrCode&&) = default;
    QrCode& operator=(QrCode&&) = default;

    const std::string& code() const { return mCode; }
    ErrorCorrection errorCorrection() const { return mErrorCorrection; }

private:
    std::string mCode;                // the data to encode
    ErrorCorrection mErrorCorrection; // error-correction level
};

} // namespace zelvo::PrinterManager::Types
