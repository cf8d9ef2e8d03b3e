// API::TCP::Service: the line interpreter and its command table.
#include "api/tcp/Service.h"

#include "Helpers.h"
#include "String.h"

#include <cstdint>
#include <stdexcept>

namespace zelvo::PrinterManager::API::TCP {

namespace {

constexpr int ReadTimeoutMs = 100;
constexpr int RasterReadTimeoutMs = 10000;
// The largest raster one "imgb" request may make the daemon allocate: far above any printer's
// width, far below what would exhaust memory.
constexpr int64_t MaxRasterBytes = 64LL << 20;

// The next token converted when it is numeric (and then consumed); none otherwise.
bool numericArgument(Message& message, int64_t& value) {
    const std::string token = message.peek();
    if (!String::isNumeric(token))
        return false;
    value = String::toInteger(token);
    message.consume();
    return true;
}

std::string takeToken(Message& message) {
    std::string token = message.peek();
    message.consume();
    return token;
}

} // namespace

const std::map<std::string, Service::Command> Service::mCommands = {
    {"barcode", &Service::barcode},
    {"bold", &Service::bold},
    {"center", &Service::center},
    {"charspace", &Service::charspace},
    {"cut", &Service::cut},
    {"default", &Service::defaults},
    {"feed", &Service::feed},
    {"font", &Service::font},
    {"fontSize", &Service::fontSize},
    {"fullcut", &Service::fullcut},
    {"hex", &Service::hex},
    {"img", &Service::img},
    {"imgb", &Service::imgb},
    {"left", &Service::left},
    {"normal", &Service::normal},
    {"nounderline", &Service::nounderline},
    {"partialcut", &Service::partialcut},
    {"qrcode", &Service::qrcode},
    {"reset", &Service::reset},
    {"reverse", &Service::reverse},
    {"right", &Service::right},
    {"status", &Service::statusCommand},
    {"underline", &Service::underline},
    {"utf8", &Service::utf8},
    {"verify", &Service::verify},
};

std::string Service::parse(const std::string& line) {
    return parse(line, nullptr);
}

std::string Service::parse(const std::string& line, TCPClient* client) {
    if (line.empty() || line[0] != '@') {
        mPrinterManager->printLine(line);
        return "OK\r\n";
    }
    Message message(line);
    std::string reply;
    for (;;) {
        const std::string token = message.peek();
        if (token.empty())
            return reply;
        message.consume();
        log(Log::Debug, "Next token: \"%s\"", token.c_str());
        const auto command = mCommands.find(token);
        if (command == mCommands.end())
            throw std::invalid_argument(String::format("Not a valid command: [%s]", token.c_str()));
        const std::string output = (this->*command->second)(message, client);
        if (!output.empty())
            reply += output + "\r\n";
        reply += "OK\r\n";
    }
}

template <typename Change> std::string Service::changeStyle(Change change) {
    Types::Style style = mPrinterManager->getStyle();
    change(style);
    mPrinterManager->setStyle(style);
    return {};
}

std::string Service::barcode(Message& message, TCPClient*) {
    const std::string data = takeToken(message);
    std::string type;
    std::string hri;
    for (int option = 0; option < 2; ++option) {
        const std::string keyword = message.peek();
        if (keyword == "bartype") {
            message.consume();
            type = takeToken(message);
        } else if (keyword == "barhri") {
            message.consume();
            hri = takeToken(message);
        } else {
            break;
        }
    }
    mPrinterManager->printBarcode(Types::Barcode(data, type, hri));
    return {};
}

std::string Service::bold(Message&, TCPClient*) {
    return changeStyle([](Types::Style& s) { s.setBold(true); });
}

std::string Service::center(Message&, TCPClient*) {
    return changeStyle([](Types::Style& s) { s.setAlign(Types::Style::Center); });
}

std::string Service::charspace(Message& message, TCPClient*) {
    int64_t space = 0;
    numericArgument(message, space);
    if (space < 0 || space > 255)
        throw std::invalid_argument(
            String::format("Invalid character spacing '%lld'", static_cast<long long>(space)));
    return changeStyle([space](Types::Style& s) { s.setSpace(static_cast<unsigned long>(space)); });
}

std::string Service::cut(Message&, TCPClient*) {
    mPrinterManager->cut(false);
    return {};
}

std::string Service::defaults(Message&, TCPClient*) {
    mPrinterManager->defaults();
    return {};
}

std::string Service::feed(Message& message, TCPClient*) {
    int64_t lines = 1;
    numericArgument(message, lines);
    if (lines < 0 || lines > 255)
        throw std::invalid_argument(
            String::format("Invalid feed '%lld'", static_cast<long long>(lines)));
    mPrinterManager->feed(static_cast<unsigned long>(lines));
    return {};
}

std::string Service::font(Message& message, TCPClient*) {
    const std::string type = takeToken(message);
    if (type != "0" && type != "1")
        throw std::invalid_argument(String::format("Invalid font type '%s'", type.c_str()));
    return changeStyle([&type](Types::Style& s) {
        s.setType(type == "0" ? Types::Style::FontA : Types::Style::FontB);
    });
}

std::string Service::fontSize(Message& message, TCPClient*) {
    const std::string token = takeToken(message);
    // Sizes count from 1 on the wire and from 0 in the style; the printers magnify up to 8.
    const int64_t size = String::toInteger(token);
    if (size < 1 || size > 8)
        throw std::invalid_argument(String::format("Invalid font size '%s'", token.c_str()));
    return changeStyle(
        [size](Types::Style& s) { s.setSize(static_cast<unsigned long>(size - 1)); });
}

std::string Service::fullcut(Message&, TCPClient*) {
    mPrinterManager->cut(true);
    return {};
}

std::string Service::hex(Message& message, TCPClient*) {
    const std::vector<unsigned char> bytes = Helpers::hexToBytes(takeToken(message));
    mPrinterManager->printLine(std::string(bytes.begin(), bytes.end()));
    return {};
}

std::string Service::img(Message& message, TCPClient*) {
    mPrinterManager->printImg(takeToken(message));
    return {};
}

std::string Service::imgb(Message& message, TCPClient* client) {
    int64_t width = 0;
    int64_t height = 0;
    numericArgument(message, width);
    const bool haveHeight = numericArgument(message, height);
    if (!haveHeight || width <= 0 || height <= 0 || width > MaxRasterBytes * 8 ||
        height > MaxRasterBytes * 8 || (width * height) >> 3 > MaxRasterBytes)
        throw std::invalid_argument("Could not parse image dimensions");
    const int32_t expected = static_cast<int32_t>((width * height) >> 3);
    if (client == nullptr || !client->connected())
        throw std::invalid_argument("Raster upload needs a TCP connection");

    client->print(">");
    client->setReadTimeout(RasterReadTimeoutMs);
    log(Log::Debug, "Waiting to read %d bytes...", expected);
    std::vector<unsigned char> bytes;
    bytes.reserve(static_cast<size_t>(expected));
    const int received = client->read(bytes, static_cast<size_t>(expected));
    client->setReadTimeout(ReadTimeoutMs);
    if (received != expected)
        return String::format("ERROR byte number was not met: %d of %d", received, expected);
    mPrinterManager->printImgBuffer(bytes, static_cast<unsigned long>(width),
                                    static_cast<unsigned long>(height));
    return {};
}

std::string Service::left(Message&, TCPClient*) {
    return changeStyle([](Types::Style& s) { s.setAlign(Types::Style::Left); });
}

std::string Service::normal(Message&, TCPClient*) {
    return changeStyle([](Types::Style& s) { s.setBold(false); });
}

std::string Service::nounderline(Message&, TCPClient*) {
    return changeStyle([](Types::Style& s) { s.setUnderlined(false); });
}

std::string Service::partialcut(Message&, TCPClient*) {
    mPrinterManager->cut(false);
    return {};
}

std::string Service::qrcode(Message& message, TCPClient*) {
    const std::string data = takeToken(message);
    std::string level;
    if (message.peek() == "qrlevel") {
        message.consume();
        level = takeToken(message);
    }
    mPrinterManager->printQR(Types::QrCode(data, level));
    return {};
}

std::string Service::reset(Message&, TCPClient*) {
    mPrinterManager->reset();
    return {};
}

std::string Service::reverse(Message& message, TCPClient*) {
    bool on = true;
    const std::string token = message.peek();
    if (String::isNumeric(token)) {
        on = String::toBool(token);
        message.consume();
    }
    return changeStyle([on](Types::Style& s) { s.setReverse(on); });
}

std::string Service::right(Message&, TCPClient*) {
    return changeStyle([](Types::Style& s) { s.setAlign(Types::Style::Right); });
}

std::string Service::statusCommand(Message&, TCPClient*) {
    return status();
}

std::string Service::underline(Message&, TCPClient*) {
    return changeStyle([](Types::Style& s) { s.setUnderlined(true); });
}

std::string Service::utf8(Message& message, TCPClient*) {
    mPrinterManager->printUtf8Line(takeToken(message));
    return {};
}

std::string Service::verify(Message&, TCPClient*) {
    mPrinterManager->verify();
    return {};
}

} // namespace zelvo::PrinterManager::API::TCP
