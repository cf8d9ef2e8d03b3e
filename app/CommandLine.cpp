// CommandLine: options, help texts and flag counting.
#include "CommandLine.h"

#include "Project.h"
#include "manager/Models.h"

#include <CLI/CLI.hpp>

#include <algorithm>

Log::Level CommandLine::level() const {
    switch (verbosity) {
    case 0:
        return Log::Error;
    case 1:
        return Log::Warning;
    case 2:
        return Log::Info;
    default:
        return Log::Debug;
    }
}

std::optional<int> CommandLine::parse(int argc, const char* const* argv, CommandLine& out) {
    out.device = getDefaultDevicePath();
    out.configFile = getDefaultConfigFile();
    out.port = getDefaultPort();
    out.verbosity = 2;
    out.global = false;
    out.stdErr = false;
    out.model.clear();

    CLI::App app{getBanner(), ""};
    app.add_option("device,-d,--device", out.device,
                   "Device. Default is '" + getDefaultDevicePath() + "'.");
    app.add_option("-f,--conf", out.configFile,
                   "Configuration file. Default is '" + getDefaultConfigFile() + "'.");
    app.add_option("-p,--port", out.port,
                   "Listen on this port. Default is '" + std::to_string(getDefaultPort()) + "'.");
    app.add_option("--verbose", out.verbosity, "Sets verbosity level of log messages.");
    app.add_flag("-g,--global")->description("Listen on any address, not just localhost.");
    app.add_flag("-V,--version")->description("Print version and exit.");
    app.add_flag("-e,--stderr")->description("Print messages to stderr as well as syslog.");
    app.add_flag("-v")->description("Increases verbosity level of log messages by 1.");
    const std::vector<std::string> names = zelvo::PrinterManager::modelNames();
    std::string list;
    for (const auto& name : names)
        list += (list.empty() ? "" : ", ") + name;
    app.add_option("-m,--model", out.model,
                   "Printer model, for printers behind adapters that do not identify them (" +
                       list + "). Default is to detect it.")
        ->check(CLI::IsMember(names));

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }

    out.global = app.count("-g") + app.count("--global") > 0;
    if (app.count("-V") + app.count("--version") > 0)
        return app.exit(CLI::CallForHelp());
    out.stdErr = app.count("-e") + app.count("--stderr") > 0;
    if (const size_t n = app.count("-v"); n > 0)
        out.verbosity = static_cast<uint32_t>(std::min<size_t>(n, 3));
    return std::nullopt;
}
