// Tests of printer detection against umockdev testbeds: the identification table, node
// resolution, the ancestry walk, the log lines, and the driver choice by model name.
#include "Detection.h"
#include "Log.h"
#include "Models.h"
#include "StderrCapture.h"
#include "Testbed.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

using namespace zelvo::PrinterManager;

namespace {

const std::string kTag = "[PrinterManager] ";

// The detection messages of a captured log, tag and time stamp removed; a line from elsewhere
// (the link helpers) is kept whole so that an unexpected message shows.
std::vector<std::string> messages(const std::string& log) {
    std::vector<std::string> out;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        const size_t at = line.find(kTag);
        out.push_back(at == std::string::npos ? line : line.substr(at + kTag.size()));
    }
    return out;
}

const auto usbPrinter = &Testbed::usbPrinter;

// The interface of a printer-class USB printer, as the Sanei, Hengstler and TL60 report it.
const std::string kPrinterInterface = "A: bInterfaceNumber=00\nA: bInterfaceProtocol=02\n";

// An FTDI FT4232H quad serial adapter: ports ttyUSB0 to ttyUSB3 on interfaces 00 to 03.
std::string ftdiQuadAdapter() {
    const std::string dev = "/devices/pci0000:00/0000:00:14.0/usb1/1-9";
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const std::string n = std::to_string(i);
        const std::string intf = dev + "/1-9:1." + n;
        text += "P: " + intf + "/ttyUSB" + n + "/tty/ttyUSB" + n + "\nN: ttyUSB" + n +
                "\nE: DEVNAME=/dev/ttyUSB" + n + "\nE: SUBSYSTEM=tty\nE: MAJOR=188\nE: MINOR=" + n +
                "\nA: dev=188:" + n + "\n\nP: " + intf + "/ttyUSB" + n +
                "\nE: SUBSYSTEM=usb-serial\nL: driver=../../../../../../../bus/usb-serial/"
                "drivers/ftdi_sio\n\nP: " +
                intf +
                "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: interface=Quad RS232-HS\n"
                "A: bInterfaceProtocol=ff\nA: bInterfaceNumber=0" +
                n + "\nL: driver=../../../../../../bus/usb/drivers/ftdi_sio\n\n";
    }
    return text + "P: " + dev +
           "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: idVendor=0403\nA: idProduct=6011\n"
           "A: manufacturer=FTDI\nA: product=Quad RS232-HS\n";
}

// A legacy serial port ttyS0 on the plug-and-play device 00:04 bound to `driver`; with
// `grandParentDriver`, the bus device above it is bound to that driver.
std::string legacySerial(const std::string& driver, const std::string& grandParentDriver = "") {
    std::string text = "P: /devices/pnp0/00:04/tty/ttyS0\nN: ttyS0\nE: DEVNAME=/dev/ttyS0\n"
                       "E: SUBSYSTEM=tty\n"
                       "E: MAJOR=4\nE: MINOR=64\nA: dev=4:64\n\n"
                       "P: /devices/pnp0/00:04\nE: SUBSYSTEM=pnp\nA: id=PNP0501\n"
                       "L: driver=../../../bus/pnp/drivers/" +
                       driver + "\n";
    if (!grandParentDriver.empty())
        text += "\nP: /devices/pnp0\nE: SUBSYSTEM=platform\nL: driver=../../bus/platform/drivers/" +
                grandParentDriver + "\n";
    return text;
}

const std::string kTl60Upper = "A: manufacturer=CUSTOM Engineering S.p.A.\nA: product=TL60\n";
const std::string kTl60Mixed = "A: manufacturer=Custom Engineering S.p.A.\nA: product=TL60\n";

class DetectionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!Testbed::available()) {
            std::fprintf(stderr, "SKIP: detection tests must run under umockdev-wrapper\n");
            std::exit(77);
        }
    }
    void SetUp() override { Log::open("voltrin-detection-test", true, false); }
    void TearDown() override { Log::close(); }

    // identify() on `path`, its log lines in `log`.
    std::optional<size_t> identifyLogged(const std::string& path, std::string& resolved,
                                         std::vector<std::string>& log) {
        StderrCapture capture;
        const std::optional<size_t> index = identify(path, resolved);
        log = messages(capture.text());
        return index;
    }

    Testbed mTestbed;
};

} // namespace

struct IdentifyCase {
    const char* label;
    std::string description;
    std::string node;
    std::optional<size_t> index; // expected row; none for "Device not recognised"
    const char* model;           // expected model of the row
};

TEST_F(DetectionTest, DevicesAreIdentifiedByTheirAttributes) {
    const std::string hengstler = "A: ieee1284_id=MFG:HENGSTLER ;CMD:XPM ;MDL:XPM-80 \n";
    const std::vector<IdentifyCase> cases = {
        {"TL60, maker in capitals", usbPrinter(0, kTl60Upper, kPrinterInterface), "/dev/usb/lp0", 0,
         "tl60"},
        {"TL60, maker in mixed case", usbPrinter(1, kTl60Mixed, kPrinterInterface), "/dev/usb/lp1",
         1, "tl60"},
        {"TL60 product name in lower case",
         usbPrinter(2, "A: manufacturer=Custom Engineering S.p.A.\nA: product=tl60\n",
                    kPrinterInterface),
         "/dev/usb/lp2", std::nullopt, ""},
        {"Seiko CAPD247 on USB",
         usbPrinter(3, "A: idVendor=0619\nA: idProduct=0116\nA: product=SII LTPDx47 Series.\n",
                    "A: interface=Interface0 Bidirectional\n" + kPrinterInterface),
         "/dev/usb/lp3", 2, "capd247"},
        {"Sanei SK1311",
         usbPrinter(4, "A: product=SK1-31\n",
                    "A: ieee1284_id=MFG:SANEI;MDL: SK Series;CMD:ESCPOS;CLS:Printers;DES:3inch "
                    "Printe\n" +
                        kPrinterInterface),
         "/dev/usb/lp4", 5, "sk1311"},
        {"Sanei SK1211",
         usbPrinter(5, "A: product=SK1-21\n",
                    "A: ieee1284_id=MFG:SANEI;MDL: SK1-21 Series;CMD:ESCPOS;CLS:Printers;"
                    "DES:2inch Printe\n" +
                        kPrinterInterface),
         "/dev/usb/lp5", 6, "sk1211"},
        {"Hengstler XPM80", usbPrinter(6, "A: product=XPM-80\n", hengstler + kPrinterInterface),
         "/dev/usb/lp6", 7, "xpm80"},
        {"Hengstler XPM80 without the trailing blank",
         usbPrinter(7, "A: product=XPM-80\n",
                    "A: ieee1284_id=MFG:HENGSTLER ;CMD:XPM ;MDL:XPM-80\n" + kPrinterInterface),
         "/dev/usb/lp7", std::nullopt, ""},
        {"Hengstler XPM80 on a second interface",
         usbPrinter(8, "A: product=XPM-80\n",
                    hengstler + "A: bInterfaceNumber=01\nA: bInterfaceProtocol=02\n"),
         "/dev/usb/lp8", std::nullopt, ""},
    };
    for (const IdentifyCase& c : cases) {
        SCOPED_TRACE(c.label);
        mTestbed.add(c.description);
        std::string resolved;
        const std::optional<size_t> index = identify(c.node, resolved);
        EXPECT_EQ(index, c.index);
        if (index && c.index) {
            EXPECT_EQ(resolved, c.node);
            EXPECT_EQ(identificationTable()[*index].model, c.model);
        }
    }
}

TEST_F(DetectionTest, QuadSerialAdapterPortsAreToldApartByInterfaceNumber) {
    mTestbed.add(ftdiQuadAdapter());
    const std::vector<std::pair<std::string, std::optional<size_t>>> ports = {
        {"/dev/ttyUSB0", 4},
        {"/dev/ttyUSB1", std::nullopt},
        {"/dev/ttyUSB2", 3},
        {"/dev/ttyUSB3", std::nullopt}};
    for (const auto& [node, expected] : ports) {
        SCOPED_TRACE(node);
        std::string resolved;
        std::vector<std::string> log;
        EXPECT_EQ(identifyLogged(node, resolved, log), expected);
        if (!expected) {
            EXPECT_EQ(log.back(), "Device not recognised");
        }
    }
    std::string resolved;
    EXPECT_EQ(identificationTable()[*identify("/dev/ttyUSB0", resolved)].model, "mplus2");
    EXPECT_EQ(identificationTable()[*identify("/dev/ttyUSB2", resolved)].model, "capd247");
}

// The whole log of one detection: the node, then every matching attribute level by level from
// the node up, row by row, names in order within a row.
TEST_F(DetectionTest, LogsEveryMatchFromTheNodeUp) {
    mTestbed.add(ftdiQuadAdapter());
    std::string resolved;
    std::vector<std::string> log;
    ASSERT_EQ(identifyLogged("/dev/ttyUSB2", resolved, log), 3u);
    const std::vector<std::string> expected = {
        "Opening device /dev/ttyUSB2",
        "udev matched [3] 'bInterfaceNumber' = '02'",
        "udev matched [3] 'bInterfaceProtocol' = 'ff'",
        "udev matched [3] 'interface' = 'Quad RS232-HS'",
        "udev matched [4] 'bInterfaceProtocol' = 'ff'",
        "udev matched [4] 'interface' = 'Quad RS232-HS'",
    };
    EXPECT_EQ(log, expected);
}

TEST_F(DetectionTest, TL60MatchesBothRowsPartlyAndTheFirstWins) {
    mTestbed.add(usbPrinter(0, kTl60Upper, kPrinterInterface));
    std::string resolved;
    std::vector<std::string> log;
    ASSERT_EQ(identifyLogged("/dev/usb/lp0", resolved, log), 0u);
    const std::vector<std::string> expected = {
        "Opening device /dev/usb/lp0",
        "udev matched [4] 'bInterfaceNumber' = '00'",
        "udev matched [5] 'bInterfaceNumber' = '00'",
        "udev matched [5] 'bInterfaceProtocol' = '02'",
        "udev matched [6] 'bInterfaceNumber' = '00'",
        "udev matched [6] 'bInterfaceProtocol' = '02'",
        "udev matched [7] 'bInterfaceNumber' = '00'",
        "udev matched [7] 'bInterfaceProtocol' = '02'",
        "udev matched [0] 'manufacturer' = 'CUSTOM Engineering S.p.A.'",
        "udev matched [0] 'product' = 'TL60'",
        "udev matched [1] 'product' = 'TL60'",
    };
    EXPECT_EQ(log, expected);
}

TEST_F(DetectionTest, LegacySerialPortBoundToTheSerialDriverIsAKPM54) {
    mTestbed.add(legacySerial("serial"));
    std::string resolved;
    std::vector<std::string> log;
    const std::optional<size_t> index = identifyLogged("/dev/ttyS0", resolved, log);
    ASSERT_EQ(index, 8u);
    EXPECT_EQ(identificationTable()[*index].model, "kpm54");
    const std::vector<std::string> expected = {"Opening device /dev/ttyS0",
                                               "udev matched [8] 'driver' = 'serial'"};
    EXPECT_EQ(log, expected);
}

TEST_F(DetectionTest, OtherSerialDriversAreNotRecognised) {
    mTestbed.add(legacySerial("serial8250"));
    std::string resolved;
    EXPECT_EQ(identify("/dev/ttyS0", resolved), std::nullopt);
}

// A row's counter must equal its number of attributes: "driver" = "serial" on two levels
// counts 2 for a row of one attribute, which is no match at all.
TEST_F(DetectionTest, AnAttributeMatchingOnTwoLevelsOvershootsAndDoesNotMatch) {
    mTestbed.add(legacySerial("serial", "serial"));
    std::string resolved;
    std::vector<std::string> log;
    EXPECT_EQ(identifyLogged("/dev/ttyS0", resolved, log), std::nullopt);
    const std::vector<std::string> expected = {
        "Opening device /dev/ttyS0", "udev matched [8] 'driver' = 'serial'",
        "udev matched [8] 'driver' = 'serial'", "Device not recognised"};
    EXPECT_EQ(log, expected);
}

TEST_F(DetectionTest, AMissingPathLogsOnlyThatItIsMissing) {
    std::string resolved = "untouched";
    std::vector<std::string> log;
    EXPECT_EQ(identifyLogged("/dev/voltrin-no-such-printer", resolved, log), std::nullopt);
    EXPECT_EQ(log, std::vector<std::string>{
                       "Device '/dev/voltrin-no-such-printer': No such file or directory"});
    EXPECT_EQ(resolved, "untouched");

    // A link whose target is gone is missing too.
    mTestbed.addSymlink("/dev/printer", "usb/lp9");
    EXPECT_EQ(identifyLogged("/dev/printer", resolved, log), std::nullopt);
    EXPECT_EQ(log, std::vector<std::string>{"Device '/dev/printer': No such file or directory"});
}

TEST_F(DetectionTest, ARelativeLinkIsResolvedBelowDev) {
    mTestbed.add(usbPrinter(0, kTl60Mixed, kPrinterInterface));
    mTestbed.addSymlink("/dev/printer", "usb/lp0");
    std::string resolved;
    std::vector<std::string> log;
    EXPECT_EQ(identifyLogged("/dev/printer", resolved, log), 1u);
    EXPECT_EQ(resolved, "/dev/usb/lp0");
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "Opening device /dev/printer -> /dev/usb/lp0");
}

// A relative target is always taken from /dev, not from the link's directory: the kernel finds
// /dev/usb/lp0 through the link /dev/usb/printer -> lp0, detection looks for /dev/lp0.
TEST_F(DetectionTest, ARelativeLinkOutsideDevTopLevelResolvesToAMissingNode) {
    mTestbed.add(usbPrinter(0, kTl60Mixed, kPrinterInterface));
    mTestbed.addSymlink("/dev/usb/printer", "lp0");
    std::string resolved;
    std::vector<std::string> log;
    EXPECT_EQ(identifyLogged("/dev/usb/printer", resolved, log), std::nullopt);
    const std::vector<std::string> expected = {"Opening device /dev/usb/printer -> /dev/lp0",
                                               "stat(/dev/lp0) failed: No such file or directory"};
    EXPECT_EQ(log, expected);
}

// A target with "/dev/" in it is used unchanged, wherever "/dev/" stands. (umockdev takes a
// testbed link to "/dev/..." for a device node of its own, so the link points at the node by
// the testbed's real path; the device database knows that node by its testbed number only.)
TEST_F(DetectionTest, ALinkTargetWithDevInItIsUsedUnchanged) {
    mTestbed.add(usbPrinter(0, kTl60Mixed, kPrinterInterface));
    const std::string target = mTestbed.root() + "/dev/usb/lp0";
    mTestbed.addSymlink("/dev/printer", target);
    std::string resolved;
    std::vector<std::string> log;
    EXPECT_EQ(identifyLogged("/dev/printer", resolved, log), std::nullopt);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "Opening device /dev/printer -> " + target);
    EXPECT_EQ(log[1].rfind("udev_device_new_from_devnum() failed: ", 0), 0u) << log[1];
}

// umockdev shows a plain file in its dev/ as a character device numbered 0:0, which the
// database does not know; the testbed's root directory is a plain directory, no device at all.
TEST_F(DetectionTest, ANodeTheDatabaseDoesNotKnowEndsAtTheDeviceLookup) {
    mTestbed.addFile("/dev/notanode");
    for (const std::string& path : {std::string("/dev/notanode"), mTestbed.root()}) {
        SCOPED_TRACE(path);
        std::string resolved;
        std::vector<std::string> log;
        EXPECT_EQ(identifyLogged(path, resolved, log), std::nullopt);
        ASSERT_EQ(log.size(), 2u);
        EXPECT_EQ(log[0], "Opening device " + path);
        EXPECT_EQ(log[1].rfind("udev_device_new_from_devnum() failed: ", 0), 0u) << log[1];
    }
}

TEST_F(DetectionTest, AnIdentifiedModelWithoutDriverGivesNoDriver) {
    mTestbed.add(legacySerial("serial"));
    StderrCapture capture;
    EXPECT_EQ(detectDriver("/dev/ttyS0"), nullptr);
    const std::vector<std::string> log = messages(capture.text());
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "Printer model 'kpm54' is not supported yet");
}

// With a model name the database is not asked: the TL60's node is taken for what it is told.
TEST_F(DetectionTest, AGivenModelSkipsTheDatabase) {
    mTestbed.add(usbPrinter(0, kTl60Upper, kPrinterInterface));
    mTestbed.addSymlink("/dev/printer", "usb/lp0");
    StderrCapture capture;
    EXPECT_EQ(detectDriver("/dev/printer", "capd247"), nullptr);
    const std::vector<std::string> expected = {"Opening device /dev/printer -> /dev/usb/lp0",
                                               "Printer model 'capd247' is not supported yet"};
    EXPECT_EQ(messages(capture.text()), expected);
}

TEST_F(DetectionTest, AGivenModelStillNeedsTheNode) {
    StderrCapture capture;
    EXPECT_EQ(detectDriver("/dev/voltrin-no-such-printer", "mplus2"), nullptr);
    EXPECT_EQ(messages(capture.text()),
              std::vector<std::string>{
                  "Device '/dev/voltrin-no-such-printer': No such file or directory"});
}

TEST_F(DetectionTest, AnUnknownModelNameGivesNoDriver) {
    mTestbed.addFile("/dev/notanode");
    StderrCapture capture;
    EXPECT_EQ(detectDriver("/dev/notanode", "TL60"), nullptr);
    EXPECT_EQ(messages(capture.text()), std::vector<std::string>{"Unknown printer model 'TL60'"});
}

TEST(Models, EveryIdentificationRowNamesAKnownModel) {
    for (const Identification& row : identificationTable())
        EXPECT_TRUE(findModel(row.model).has_value()) << row.model;
}

TEST(Models, NamesAreFoundExactly) {
    const std::vector<std::string> names = modelNames();
    EXPECT_EQ(names, (std::vector<std::string>{"tl60", "mplus2", "kpm54", "sk1311", "sk1211",
                                               "xpm80", "capd247"}));
    for (const std::string& name : names) {
        const std::optional<Model> model = findModel(name);
        ASSERT_TRUE(model.has_value()) << name;
        EXPECT_EQ(model->name, name);
    }
    EXPECT_FALSE(findModel("TL60").has_value());
    EXPECT_FALSE(findModel("").has_value());
}
