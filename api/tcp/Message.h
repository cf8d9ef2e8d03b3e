// API::TCP::Message: the tokenizer of one command line ("@bold feed 3").
#pragma once

#include <string>

namespace zelvo::PrinterManager::API::TCP {

class Message {
public:
    // Delimiters between tokens: space, "=" and ",".
    static constexpr const char* Delimiters = " =,";

    Message();
    // Throws std::invalid_argument when the line holds an odd number of unescaped single
    // quotes. Drops a leading "@" and rewrites the older "font_x" form as "fontSize=".
    explicit Message(const std::string& line);
    virtual ~Message() = default;

    // The value of the next token without moving; empty at the end of the text. A quoted
    // token's value is the text between its quotes with each \' turned into '.
    std::string peek() const;
    // Moves past the next token and every delimiter that follows it.
    void consume();

    // Where the next (unquoted) token ends.
    size_t nextDelimiter() const;
    // Just after the quote that closes the quoted token at the position (or the text length).
    size_t nextNonTerminatedQuote() const;

    const std::string& text() const { return mText; }
    size_t position() const { return mPosition; }

private:
    bool quoted() const;
    size_t tokenEnd() const;

    std::string mDelimiters;
    std::string mText;
    size_t mPosition = 0;
};

} // namespace zelvo::PrinterManager::API::TCP
