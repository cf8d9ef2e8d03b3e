// Types::Status: the model-independent printer state (32 condition bits, named flags, active).
#pragma once

#include <bitset>
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>

namespace zelvo::PrinterManager::Types {

// The bit layout is the Seiko CAPD247's automatic status word; every driver maps its printer's
// status onto it. A plain value, copied freely; not synchronised (each thread works on
// its own copy).
class Status {
public:
    // One named bit: its kind and its JSON key. Only kind Error counts for hasError().
    struct Flag {
        int32_t kind;     // KindState (0), KindCondition (1) or KindError (2)
        std::string name; // JSON key in toJson()
    };
    static constexpr int32_t KindState = 0;     // drawer and motor states
    static constexpr int32_t KindCondition = 1; // paper and presenter conditions, not errors
    static constexpr int32_t KindError = 2;     // error conditions

    // Bit numbers of the default flag table, and bit 4, which is the active flag when a status
    // is built from a bit set.
    static constexpr unsigned char BitMotorMoving = 1;
    static constexpr unsigned char BitDrawerHigh = 2;
    static constexpr unsigned char BitActive = 4;
    static constexpr unsigned char BitPlatenOpen = 5;
    static constexpr unsigned char BitFeedBySwitch = 6;
    static constexpr unsigned char BitMarkDetectionPaperJam = 10;
    static constexpr unsigned char BitAutocutter = 11;
    static constexpr unsigned char BitHead = 13;
    static constexpr unsigned char BitAutomaticRecovery = 14;
    static constexpr unsigned char BitPaperNearEnd = 16;
    static constexpr unsigned char BitOutOfPaper = 18;
    static constexpr unsigned char BitPaperOnMark = 22;
    static constexpr unsigned char BitPresenterHasPaper = 24;
    static constexpr unsigned char BitPresenterFeed = 26;
    static constexpr unsigned char BitPresenterPaperJam = 29;

    // The default flag table (14 entries), all bits clear, active false.
    Status();
    // The default flag table, then the bits; active := bit 4.
    explicit Status(const std::bitset<32>& bits);

    Status(const Status&) = default;
    Status& operator=(const Status&) = default;
    Status(Status&&) = default;
    Status& operator=(Status&&) = default;

    // Virtual operations, in their slot order.
    // bits := `bits`; active := bit 4 of `bits`.
    virtual void fromBitset(const std::bitset<32>& bits);
    // Sets the active flag only; the bits are unchanged.
    virtual void setActive(bool active);
    // True when some flag of kind KindError has its bit set.
    virtual bool hasError() const;
    // Bit 14.
    virtual bool hasAutomaticRecovery() const;
    // {flag name: bit, ..., "active": active}; bits without a flag do not appear.
    virtual nlohmann::json toJson() const;
    // The 32 condition bits (the active flag only through bit 4, if set there).
    virtual std::bitset<32> toBitset() const;
    // Declared after the six slots above, so their order is unchanged; deleting a derived
    // status through a Status pointer is defined.
    virtual ~Status();

    // Adds a named bit; an existing entry for the same bit stays and `flag` is dropped.
    // Throws std::out_of_range for a bit number above 31.
    void addFlag(std::pair<unsigned char, Flag> flag);
    // The flag table, in ascending bit order.
    const std::map<unsigned char, Flag>& flags() const { return mFlags; }

    bool active() const { return mActive; }

    bool getIsMotorRunning() const { return mBits.test(BitMotorMoving); }
    bool hasPlatenOpen() const { return mBits.test(BitPlatenOpen); }
    bool hasAutoCutterError() const { return mBits.test(BitAutocutter); }
    bool hasOutOfPaper() const { return mBits.test(BitOutOfPaper); }

private:
    std::map<unsigned char, Flag> mFlags; // named bits, ascending bit order
    std::bitset<32> mBits;                // the condition bits
    bool mActive;                         // the driver is in contact with the printer
};

} // namespace zelvo::PrinterManager::Types
