// RecordingDriver: an ESC/POS model for tests that keeps every transmission instead of sending it.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Helpers.h"
#include "printers/escpos/Driver.h"

// A model driver without a device: transmit() appends a copy of the buffer to mTransmissions
// and empties the buffer, so tests see both the bytes and where each transmission ends. The
// defaults are the Custom TL60's geometry. getStatus() reports mStatusToReport, which tests set.
class RecordingDriver : public zelvo::PrinterManager::Printers::Protocol::EscPos::Driver {
public:
    using Bytes = std::vector<unsigned char>;

    explicit RecordingDriver(unsigned long bufferSize = 512, unsigned long fontADots = 18,
                             unsigned long fontBDots = 14, unsigned long maxDots = 412)
        : Driver(bufferSize, fontADots, fontBDots, maxDots) {}

    void reset() override { ++mResets; }
    zelvo::PrinterManager::Types::Status getStatus() override { return mStatusToReport; }
    nlohmann::json getConfig() override { return mConfig; }
    void setConfig(nlohmann::json config) override { mConfig = std::move(config); }
    std::string getModel() const override { return "Recorder"; }
    ConnectionType getConnectionType() const override { return USB; }
    std::string getFirmwareVersion() const override { return "1.0"; }
    std::string getManufacturer() const override { return "Voltrin"; }
    // Code page 858, the TL60's default.
    void printUtf8Line(const std::string& text) override {
        printString(Helpers::utf8ToIbmCcsid(text, 858));
    }
    void transmit() override {
        mTransmissions.push_back(mBuffer);
        mBuffer.clear();
    }

    // Every transmission in one byte string.
    Bytes allBytes() const {
        Bytes all;
        for (const Bytes& t : mTransmissions)
            all.insert(all.end(), t.begin(), t.end());
        return all;
    }
    // Bytes appended but not transmitted yet.
    const Bytes& pending() const { return mBuffer; }

    // The base's helpers, opened up for tests.
    using Driver::calculateCharDots;
    using Driver::printImgBufferPart;
    using Driver::printLine;
    using Driver::write;

    std::vector<Bytes> mTransmissions;                    // one entry per transmit(), in order
    zelvo::PrinterManager::Types::Status mStatusToReport; // what getStatus() returns
    nlohmann::json mConfig = nlohmann::json::object();    // what setConfig() stored
    int mResets = 0;                                      // calls of reset()
};
