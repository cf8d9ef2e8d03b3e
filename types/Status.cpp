// Types::Status: the default flag table, the error tests and the JSON form.
#include "types/Status.h"

#include <stdexcept>

namespace zelvo::PrinterManager::Types {

namespace {

std::map<unsigned char, Status::Flag> defaultFlags() {
    return {
        {Status::BitMotorMoving, {Status::KindState, "motorMoving"}},
        {Status::BitDrawerHigh, {Status::KindState, "drawerHigh"}},
        {Status::BitPlatenOpen, {Status::KindError, "platenOpen"}},
        {Status::BitFeedBySwitch, {Status::KindCondition, "feedBySwitch"}},
        {Status::BitMarkDetectionPaperJam, {Status::KindError, "markDetectionPaperJam"}},
        {Status::BitAutocutter, {Status::KindError, "autocutter"}},
        {Status::BitHead, {Status::KindError, "head"}},
        {Status::BitAutomaticRecovery, {Status::KindError, "automaticRecovery"}},
        {Status::BitPaperNearEnd, {Status::KindCondition, "paperNearEnd"}},
        {Status::BitOutOfPaper, {Status::KindError, "outOfPaper"}},
        {Status::BitPaperOnMark, {Status::KindCondition, "paperOnMark"}},
        {Status::BitPresenterHasPaper, {Status::KindCondition, "presenterHasPaper"}},
        {Status::BitPresenterFeed, {Status::KindError, "presenterFeed"}},
        {Status::BitPresenterPaperJam, {Status::KindError, "presenterPaperJam"}},
    };
}

} // namespace

Status::Status() : mFlags(defaultFlags()), mBits(), mActive(false) {}

Status::Status(const std::bitset<32>& bits)
    : mFlags(defaultFlags()), mBits(bits), mActive(bits.test(BitActive)) {}

Status::~Status() = default;

void Status::fromBitset(const std::bitset<32>& bits) {
    mBits = bits;
    mActive = bits.test(BitActive);
}

void Status::setActive(bool active) {
    mActive = active;
}

bool Status::hasError() const {
    for (const auto& [bit, flag] : mFlags) {
        if (flag.kind == KindError && mBits.test(bit)) {
            return true;
        }
    }
    return false;
}

bool Status::hasAutomaticRecovery() const {
    return mBits.test(BitAutomaticRecovery);
}

nlohmann::json Status::toJson() const {
    nlohmann::json out = nlohmann::json::object();
    for (const auto& [bit, flag] : mFlags) {
        out[flag.name] = mBits.test(bit);
    }
    out["active"] = mActive;
    return out;
}

std::bitset<32> Status::toBitset() const {
    return mBits;
}

// A bit past 31 could never be set and would make toJson() and hasError() throw later, on the
// status monitor's thread; it is refused here, where the driver that adds it is built.
void Status::addFlag(std::pair<unsigned char, Flag> flag) {
    if (flag.first >= mBits.size()) {
        throw std::out_of_range("Status flag bit " + std::to_string(flag.first) +
                                " is out of range (0 to 31)");
    }
    mFlags.insert(std::move(flag));
}

} // namespace zelvo::PrinterManager::Types
