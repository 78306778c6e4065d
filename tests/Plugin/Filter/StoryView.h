// What a test reads back from a story in the emulated host: its characters and the character
// format at a position.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "Plugin/QAPI/QStory.h"
#include "Plugin/Shell/HostSuites.h"

namespace kesto_test {

inline std::u16string StoryChars(XTHandle box)
{
    QStory story(box);
    const int32_t length = static_cast<int32_t>(story.GetLength(true));
    std::u16string chars(static_cast<size_t>(length), u'\0');
    if (length > 0) {
        EXPECT_EQ(CallHost<XTY_Chars>(story.GetTextHandle(true), 0, length, &chars[0]), XT_OK);
    }
    return chars;
}

// The character format of the style run that holds position.
inline XTCharFormat FormatAt(XTHandle box, int32_t position)
{
    QStoryText text(box);
    QStoryCursor cursor(text);
    while (cursor.HasMore() && cursor.NextBoundary() <= position)
        cursor.Next();
    return cursor.GetCharAttributes();
}

} // namespace kesto_test
