// Models: the one table of supported printer models, their short names and driver factories.
#include "Models.h"

#include "printers/custom/tl60/Driver.h"

#include <algorithm>
#include <array>

namespace zelvo::PrinterManager {

namespace {

// Every model driver is constructed from the resolved device path alone.
template <typename T> std::unique_ptr<Printers::Driver> make(const std::string& path) {
    return std::make_unique<T>(path);
}

// Adding a printer: write its driver under printers/<maker>/<model>/, put its factory here,
// and, when the device database can tell it apart, add its row to the identification table in
// Detection.cpp.
constexpr std::array kModels = {
    Model{"tl60", "Custom TL60", &make<Printers::Custom::TL60::Driver>},
    Model{"mplus2", "Custom mPlus2", nullptr},
    Model{"kpm54", "Custom KPM54", nullptr},
    Model{"sk1311", "Sanei SK1311", nullptr},
    Model{"sk1211", "Sanei SK1211", nullptr},
    Model{"xpm80", "Hengstler XPM80", nullptr},
    Model{"capd247", "Seiko CAPD247", nullptr},
};

} // namespace

std::span<const Model> models() {
    return kModels;
}

std::optional<Model> findModel(std::string_view name) {
    const auto it = std::find_if(kModels.begin(), kModels.end(),
                                 [&](const Model& m) { return m.name == name; });
    if (it == kModels.end())
        return std::nullopt;
    return *it;
}

std::vector<std::string> modelNames() {
    std::vector<std::string> names;
    for (const Model& m : kModels)
        names.emplace_back(m.name);
    return names;
}

} // namespace zelvo::PrinterManager
