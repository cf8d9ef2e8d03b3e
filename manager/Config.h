// Config: the manager's own settings ("statusPeriod") and every section read from the file.
#pragma once

#include "Log.h"
#include "SettingStore.h"

namespace zelvo::PrinterManager {

class Config : public SettingStore {
public:
    Config();
    ~Config() override = default;

    void defaults();
    // The status monitor's period in milliseconds.
    unsigned long statusPeriod() const;
    void setStatusPeriod(unsigned long ms);

private:
    static void log(Log::Level level, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
};

} // namespace zelvo::PrinterManager
