// The bounded texts the installer composes: what fits is written whole,
// what does not is reported, and the buffer always holds a terminated text.
#include <gtest/gtest.h>

#include <string.h>

#include "base/text.h"

namespace {

TEST(TextBuffer, PiecesThatFitAndTheExactFit) {
    char out[8];
    TextBuffer text;
    StartText(&text, out, sizeof out);
    AppendText(&text, "abc");
    AppendText(&text, "");
    AppendText(&text, "defg");
    EXPECT_STREQ("abcdefg", out);
    EXPECT_EQ(8u, FinishText(&text));  // seven characters and the NUL
}

TEST(TextBuffer, OneCharacterTooManyIsReportedNotHidden) {
    char out[8];
    memset(out, 'x', sizeof out);
    TextBuffer text;
    StartText(&text, out, sizeof out);
    AppendText(&text, "abcdefgh");
    EXPECT_EQ(0u, FinishText(&text));
    EXPECT_STREQ("abcdefg", out);  // cut, but terminated inside the buffer
    AppendText(&text, "i");        // later pieces change nothing
    EXPECT_STREQ("abcdefg", out);
    EXPECT_EQ(0u, FinishText(&text));

    char one[1];
    StartText(&text, one, 1);
    EXPECT_EQ(1u, FinishText(&text));
    AppendText(&text, "a");
    EXPECT_EQ(0u, FinishText(&text));
    EXPECT_EQ('\0', one[0]);
}

TEST(TextBuffer, HexDigits) {
    char out[32];
    TextBuffer text;
    StartText(&text, out, sizeof out);
    AppendHex(&text, 0, 4);
    AppendText(&text, " ");
    AppendHex(&text, 0x1f, 4);
    AppendText(&text, " ");
    AppendHex(&text, 0xabcde, 4);  // more digits than asked for
    AppendText(&text, " ");
    AppendHex(&text, 0, 1);
    AppendText(&text, " ");
    AppendHex(&text, 0xFFFFFFFFu, 12);  // never more than eight
    EXPECT_STREQ("0000 001f abcde 0 ffffffff", out);
}

TEST(TextBuffer, HasChar) {
    EXPECT_TRUE(HasChar("C:\\Program Files\\", ' '));
    EXPECT_FALSE(HasChar("C:\\Programme\\", ' '));
    EXPECT_FALSE(HasChar("", ' '));
    EXPECT_TRUE(HasChar("a:b", ':'));
}

}  // namespace
