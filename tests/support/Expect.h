// Expect: assertion helpers shared by the test suites.
#pragma once

#include <gtest/gtest.h>

#include <exception>
#include <string>

// Expects `call` to throw `Exception` whose what() is exactly `text`.
template <typename Exception, typename Call>
void expectThrowWithText(Call call, const std::string& text) {
    try {
        call();
        ADD_FAILURE() << "nothing thrown, expected: " << text;
    } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()), text);
    } catch (const std::exception& e) {
        ADD_FAILURE() << "wrong exception: " << e.what();
    }
}
