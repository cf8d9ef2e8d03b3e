// Models: the table of printer models the daemon knows, by short name, with their drivers'
// factories (only detection calls them).
#pragma once

#include "printers/Driver.h"

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zelvo::PrinterManager {

struct Model {
    // Builds the model's driver for a device node path.
    using Factory = std::unique_ptr<Printers::Driver> (*)(const std::string& path);

    std::string_view name;        // short name, as given to "-m,--model" ("tl60", "mplus2", ...)
    std::string_view displayName; // maker and model, as people write it ("Custom TL60")
    Factory factory;              // empty while the model's driver is not written
};

// Every model, in a fixed order.
std::span<const Model> models();
// The model with short name `name` (exact, case-sensitive), if any.
std::optional<Model> findModel(std::string_view name);
// The short names of models(), in the same order (help text and validation of "-m").
std::vector<std::string> modelNames();

} // namespace zelvo::PrinterManager
