// Product constants and the banner with the build date and time.
#include "Project.h"

#include "String.h"

std::string getProjectName() {
    return "voltrin";
}
std::string getProjectDescription() {
    return "Printer Manager";
}
std::string getProjectVersion() {
    return "1.1.14";
}
std::string getDefaultDevicePath() {
    return "/dev/printer";
}
std::string getDefaultConfigFile() {
    return "./voltrin.json";
}
uint32_t getDefaultPort() {
    return 1413;
}

std::string getBanner() {
    return String::format("%s v%s (%s, %s)", getProjectDescription().c_str(),
                          getProjectVersion().c_str(), __DATE__, __TIME__);
}
