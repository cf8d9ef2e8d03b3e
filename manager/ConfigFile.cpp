// PrinterManager's configuration document: reading, merging, applying and writing the file.
#include "PrinterManager.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <sstream>

namespace zelvo::PrinterManager {

void PrinterManager::addGetConfigCallback(const std::string& name,
                                          std::function<nlohmann::json()> callback) {
    std::lock_guard<std::mutex> config(mConfigMutex);
    mGetConfigCallbacks.emplace(name, std::move(callback));
}

void PrinterManager::addSetConfigCallback(const std::string& name,
                                          std::function<void(nlohmann::json)> callback) {
    std::lock_guard<std::mutex> config(mConfigMutex);
    mSetConfigCallbacks.emplace(name, std::move(callback));
}

// Merges a document into Config. A member whose kind changes (a section that was a plain value
// becomes an object, or the other way round) first drops what Config held under its name, so
// the stored document never holds a key that is both a value and a container.
void PrinterManager::storeDocument(const nlohmann::json& document) {
    if (document.is_object()) {
        for (const auto& [name, value] : document.items()) {
            const bool hadValue = mConfig.exists(name);
            const bool hadMembers = !mConfig.get(name).isNull() && !hadValue;
            if ((value.is_object() && hadValue) || (!value.is_object() && hadMembers))
                mConfig.erase(name);
        }
    }
    mConfig.updateFromJson(document);
}

void PrinterManager::readConfigFile() {
    log(Log::Info, "Reading config file: '%s'", mConfigFile.c_str());
    std::ifstream in(mConfigFile, std::ios::binary);
    if (!in) {
        log(Log::Error, "Could not read config file: '%s'.", mConfigFile.c_str());
        return;
    }
    std::stringstream text;
    text << in.rdbuf();
    const std::string content = text.str();
    // A document that is not an object carries no sections; it is treated like an empty file
    // so that the defaults stay in force and the next write replaces it.
    const nlohmann::json document = nlohmann::json::parse(content, nullptr, false);
    if (content.empty() || document.is_discarded() || !document.is_object()) {
        log(Log::Error, "Config file '%s' is empty.", mConfigFile.c_str());
        return;
    }

    std::map<std::string, std::function<void(nlohmann::json)>> receivers;
    {
        std::lock_guard<std::mutex> config(mConfigMutex);
        storeDocument(document);
        receivers = mSetConfigCallbacks;
    }
    for (const auto& [name, receiver] : receivers)
        if (document.contains(name))
            receiver(document[name]);
    std::lock_guard<std::mutex> config(mConfigMutex);
    mConfig.print();
}

nlohmann::json PrinterManager::mergedConfig(bool verbose) {
    nlohmann::json document;
    std::map<std::string, std::function<nlohmann::json()>> sources;
    {
        std::lock_guard<std::mutex> config(mConfigMutex);
        document = mConfig.toJson();
        sources = mGetConfigCallbacks;
    }
    if (!document.is_object())
        document = nlohmann::json::object();
    if (verbose)
        log(Log::Debug, "Getting printer's config");
    {
        std::lock_guard<std::mutex> lock(mDriverMutex);
        if (mDriver)
            document["printer"] = mDriver->getConfig();
    }
    for (const auto& [name, source] : sources) {
        if (verbose)
            log(Log::Debug, "Updating '%s' section.", name.c_str());
        document[name] = source();
    }
    return document;
}

nlohmann::json PrinterManager::getConfig() {
    return mergedConfig(false);
}

// The whole content is written to a temporary file in the same directory, flushed to disk and
// renamed over the old file, so a crash or a full disk never leaves a truncated configuration.
bool PrinterManager::writeDocument(const nlohmann::json& document) {
    const std::string content = document.dump(4) + "\n";
    const std::string temporary = mConfigFile + ".tmp-" + std::to_string(getpid());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    const bool written = done == content.size() && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temporary.c_str(), mConfigFile.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

void PrinterManager::writeConfigFile() {
    log(Log::Info, "Writing updated config file");
    const nlohmann::json document = mergedConfig(true);
    log(Log::Info, "Saving updated config file");
    {
        std::lock_guard<std::mutex> config(mConfigMutex);
        storeDocument(document);
        mConfig.print();
    }
    if (!writeDocument(document))
        log(Log::Error, "Could not write config file: '%s'.", mConfigFile.c_str());
}

void PrinterManager::setConfig(const nlohmann::json& document) {
    std::map<std::string, std::function<void(nlohmann::json)>> receivers;
    {
        std::lock_guard<std::mutex> config(mConfigMutex);
        storeDocument(document);
        receivers = mSetConfigCallbacks;
    }
    if (document.is_object() && document.contains("printer")) {
        std::lock_guard<std::mutex> lock(mDriverMutex);
        if (mDriver)
            mDriver->setConfig(document["printer"]);
    }
    // Receivers run without the manager's locks: a service may restart itself here.
    for (const auto& [name, receiver] : receivers)
        if (document.is_object() && document.contains(name))
            receiver(document[name]);
    {
        // A stopped manager keeps its monitor stopped; the new period applies at its start.
        std::lock_guard<std::mutex> config(mConfigMutex);
        if (mStarted) {
            mStatusTimer.stop();
            mStatusTimer.start(statusPeriodMs());
        }
    }
    writeDocument(getConfig());
}

// The period as the timer takes it; a value beyond its range is capped rather than wrapped
// into a negative (never expiring) interval.
int PrinterManager::statusPeriodMs() const {
    const unsigned long period = mConfig.statusPeriod();
    return period > static_cast<unsigned long>(INT_MAX) ? INT_MAX : static_cast<int>(period);
}

} // namespace zelvo::PrinterManager
