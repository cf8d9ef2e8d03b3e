// Product constants: name, description, version and the daemon's defaults.
#pragma once

#include <cstdint>
#include <string>

std::string getProjectName();
std::string getProjectDescription();
std::string getProjectVersion();
std::string getDefaultDevicePath();
std::string getDefaultConfigFile();
uint32_t getDefaultPort();
// "Printer Manager v<version> (<build date>, <build time>)".
std::string getBanner();
