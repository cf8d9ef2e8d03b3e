// The command-line tokenizer: quotes, escapes, delimiters and the font_x rewrite.
#include "api/tcp/Message.h"

#include "Expect.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using zelvo::PrinterManager::API::TCP::Message;

std::vector<std::string> tokens(const std::string& line) {
    Message message(line);
    std::vector<std::string> out;
    for (int guard = 0; guard < 100; ++guard) {
        const size_t before = message.position();
        const std::string token = message.peek();
        if (message.position() >= message.text().size())
            break;
        out.push_back(token);
        message.consume();
        if (message.position() == before)
            break;
    }
    return out;
}

TEST(TcpMessage, Tokens) {
    struct Case {
        std::string line;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"@center bold feed 3", {"center", "bold", "feed", "3"}},
        {"@fontSize=2", {"fontSize", "2"}},
        {"@font_x2 bold", {"fontSize", "2", "bold"}},
        {"@imgb 16,,2  ==x", {"imgb", "16", "2", "x"}},
        {"@utf8 'it\\'s here'", {"utf8", "it's here"}},
        {"@utf8 'a, b = c' bold", {"utf8", "a, b = c", "bold"}},
        {"@utf8 '' bold", {"utf8", "", "bold"}},
        // The first character belongs to the token even when it is a delimiter.
        {"@ bold", {" bold"}},
        {"@=x", {"=x"}},
        {"bold", {"bold"}},
        {"@", {}},
        {"", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(tokens(c.line), c.expected) << c.line;
}

TEST(TcpMessage, PeekDoesNotMoveAndEndGivesEmpty) {
    Message message("@a b");
    EXPECT_EQ(message.peek(), "a");
    EXPECT_EQ(message.peek(), "a");
    message.consume();
    EXPECT_EQ(message.peek(), "b");
    message.consume();
    EXPECT_EQ(message.peek(), "");
    message.consume();
    EXPECT_EQ(message.peek(), "");
}

TEST(TcpMessage, OddUnescapedQuotesAreRejected) {
    for (const char* line : {"@bold 'x", "@utf8 'a\\'", "'"})
        expectThrowWithText<std::invalid_argument>(
            [&] { Message{line}; },
            "Non terminated string (odd number of non escaped single quotes detected).");
    EXPECT_NO_THROW(Message("@utf8 \\'"));
}

} // namespace
