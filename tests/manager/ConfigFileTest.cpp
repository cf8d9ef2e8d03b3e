// Tests of the configuration file: reading, the merged document with the printer's and the
// services' sections, unknown keys surviving, setConfig, and safe rewriting.
#include "PrinterManager.h"
#include "RecordingDriver.h"
#include "StderrCapture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace zelvo::PrinterManager;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

class ConfigFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/voltrin-config-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        mDir = name;
        mPath = (mDir / "voltrin.json").string();
        Log::open("voltrin-configtest", true, false);
    }
    void TearDown() override {
        Log::close();
        fs::remove_all(mDir);
    }

    void writeFile(const std::string& text) { std::ofstream(mPath) << text; }
    json readFile() {
        std::ifstream in(mPath);
        return json::parse(in);
    }

    // A manager with a recording printer and two registered service sections.
    std::unique_ptr<PrinterManager> makeManager(bool printer = true) {
        auto m =
            std::make_unique<PrinterManager>("/dev/recorder", mPath, [printer](const std::string&) {
                std::unique_ptr<Printers::Driver> d;
                if (printer) {
                    auto r = std::make_unique<RecordingDriver>();
                    r->mConfig = {{"charCodeTableNumber", 19}, {"reverse", true}};
                    d = std::move(r);
                }
                return d;
            });
        m->addGetConfigCallback("tcp", [this] { return mTcp; });
        m->addSetConfigCallback("tcp", [this](json j) { mTcpReceived.push_back(j); });
        m->addGetConfigCallback("mqtt", [] { return json{{"base", "zelvo/voltrin"}}; });
        // A second registration of a name keeps the first.
        m->addGetConfigCallback("tcp", [] { return json("replaced"); });
        return m;
    }

    fs::path mDir;
    std::string mPath;
    json mTcp = {{"interface", "127.0.0.1"}, {"port", 1413}};
    std::vector<json> mTcpReceived;
};

const json kFullDocument = {{"statusPeriod", 500},
                            {"printer", {{"charCodeTableNumber", 19}, {"reverse", true}}},
                            {"tcp", {{"interface", "127.0.0.1"}, {"port", 1413}}},
                            {"mqtt", {{"base", "zelvo/voltrin"}}}};

} // namespace

TEST_F(ConfigFileTest, UnusableFilesLeaveDefaultsAndAreRewrittenWhole) {
    struct Case {
        const char* name;
        const char* content; // nullptr: no file
        const char* logLine;
    };
    const Case cases[] = {
        {"missing", nullptr, "Could not read config file: '"},
        {"empty", "", "' is empty."},
        {"invalid", "{\"statusPeriod\": ", "' is empty."},
        {"not an object", "[1, 2]", "' is empty."},
        {"empty object", "{}", nullptr},
    };
    for (const auto& c : cases) {
        fs::remove(mPath);
        if (c.content)
            writeFile(c.content);
        auto m = makeManager();
        StderrCapture capture;
        m->readConfigFile();
        const std::string log = capture.text();
        if (c.logLine)
            EXPECT_NE(log.find(c.logLine), std::string::npos) << c.name << ": " << log;
        else
            EXPECT_EQ(log.find("error"), std::string::npos) << c.name;
        m->start();
        m->writeConfigFile();
        m->stop();
        EXPECT_EQ(readFile(), kFullDocument) << c.name;
        EXPECT_TRUE(mTcpReceived.empty()) << c.name;
    }
}

TEST_F(ConfigFileTest, SectionsReachTheirOwnersAndUnknownKeysSurvive) {
    writeFile(R"({"note": {"who": "ops", "list": [1, 2]}, "statusPeriod": 250,
                  "tcp": {"port": 9100}, "printer": {"reverse": false}})");
    auto m = makeManager();
    m->readConfigFile();
    ASSERT_EQ(mTcpReceived.size(), 1u);
    EXPECT_EQ(mTcpReceived[0], (json{{"port", 9100}}));
    m->start();
    m->writeConfigFile();
    m->stop();

    const json written = readFile();
    EXPECT_EQ(written["note"], (json{{"who", "ops"}, {"list", {1, 2}}}));
    EXPECT_EQ(written["statusPeriod"], 250);
    EXPECT_EQ(written["tcp"], mTcp);
    EXPECT_EQ(written["mqtt"], (json{{"base", "zelvo/voltrin"}}));
    // The file's printer section reached the new driver, and the driver's own settings are
    // what is written back.
    EXPECT_EQ(written["printer"], (json{{"reverse", false}}));
}

TEST_F(ConfigFileTest, WithoutPrinterTheFileKeepsItsPrinterSection) {
    writeFile(R"({"printer": {"reverse": false}})");
    auto m = makeManager(false);
    m->readConfigFile();
    m->start();
    m->writeConfigFile();
    EXPECT_EQ(m->getConfig()["printer"], (json{{"reverse", false}}));
    m->stop();
    EXPECT_EQ(readFile()["printer"], (json{{"reverse", false}}));
}

TEST_F(ConfigFileTest, SetConfigAppliesAndRewritesTheFile) {
    auto m = makeManager();
    m->readConfigFile();
    m->start();
    m->writeConfigFile();
    m->setConfig({{"statusPeriod", 2000}, {"tcp", {{"port", 1500}}}});
    ASSERT_EQ(mTcpReceived.size(), 1u);
    EXPECT_EQ(mTcpReceived[0], (json{{"port", 1500}}));
    json expected = kFullDocument;
    expected["statusPeriod"] = 2000;
    EXPECT_EQ(readFile(), expected);
    EXPECT_EQ(m->getConfig(), expected);
    m->stop();
}

TEST_F(ConfigFileTest, SectionThatChangesKindReplacesTheOldValue) {
    auto m = makeManager(false);
    m->setConfig({{"extra", 5}});
    m->setConfig({{"extra", {{"a", 1}}}});
    EXPECT_EQ(m->getConfig()["extra"], (json{{"a", 1}}));
    m->setConfig({{"extra", "plain"}});
    EXPECT_EQ(m->getConfig()["extra"], "plain");
}

TEST_F(ConfigFileTest, FailedWriteLeavesTheOldFileIntact) {
    writeFile(R"({"statusPeriod": 700})");
    // A configuration path inside a missing directory cannot be written at all.
    const std::string unwritable = (mDir / "missing" / "voltrin.json").string();
    PrinterManager m("/dev/none", unwritable, [](const std::string&) { return nullptr; });
    StderrCapture capture;
    m.writeConfigFile();
    EXPECT_NE(capture.text().find("Could not write config file: '" + unwritable + "'."),
              std::string::npos);
    EXPECT_EQ(readFile(), (json{{"statusPeriod", 700}}));
    // No temporary file is left behind either.
    EXPECT_EQ(std::distance(fs::directory_iterator(mDir), fs::directory_iterator()), 1);
}
