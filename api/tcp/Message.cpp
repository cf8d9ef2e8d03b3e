// API::TCP::Message: quote check, font_x rewrite and the token walk.
#include "api/tcp/Message.h"

#include "Helpers.h"

#include <stdexcept>

namespace zelvo::PrinterManager::API::TCP {

Message::Message() : mDelimiters(Delimiters) {}

Message::Message(const std::string& line) : mDelimiters(Delimiters) {
    const size_t quotes = Helpers::countOccurancesOfString(line, "'");
    const size_t escaped = Helpers::countOccurancesOfString(line, "\\'");
    if ((quotes - escaped) % 2 != 0)
        throw std::invalid_argument(
            "Non terminated string (odd number of non escaped single quotes detected).");
    mText = (!line.empty() && line[0] == '@') ? line.substr(1) : line;
    mText = Helpers::strReplace(mText, "font_x", "fontSize=");
}

bool Message::quoted() const {
    return mPosition < mText.size() && mText[mPosition] == '\'';
}

size_t Message::nextDelimiter() const {
    if (mPosition >= mText.size())
        return mText.size();
    // The first character belongs to the token even when it is a delimiter.
    const size_t end = mText.find_first_of(mDelimiters, mPosition + 1);
    return end == std::string::npos ? mText.size() : end;
}

size_t Message::nextNonTerminatedQuote() const {
    for (size_t i = mPosition + 1; i < mText.size(); ++i)
        if (mText[i] == '\'' && mText[i - 1] != '\\')
            return i + 1;
    return mText.size();
}

size_t Message::tokenEnd() const {
    return quoted() ? nextNonTerminatedQuote() : nextDelimiter();
}

std::string Message::peek() const {
    if (mPosition >= mText.size())
        return {};
    const size_t end = tokenEnd();
    if (!quoted())
        return mText.substr(mPosition, end - mPosition);
    // Between the opening quote and the last character of the token, which is taken as the
    // closing quote even when the token ran to the end of the text.
    const size_t length = end - mPosition;
    const std::string inner = length >= 2 ? mText.substr(mPosition + 1, length - 2) : "";
    return Helpers::strReplace(inner, "\\'", "'");
}

void Message::consume() {
    if (mPosition >= mText.size())
        return;
    mPosition = tokenEnd();
    while (mPosition < mText.size() && mDelimiters.find(mText[mPosition]) != std::string::npos)
        ++mPosition;
}

} // namespace zelvo::PrinterManager::API::TCP
