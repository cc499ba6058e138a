#include "temporary_directory.h"

#include <gtest/gtest.h>

TEST(TemporaryDirectory, ABufferTooSmallIsGrownToTheSizeWindowsNames) {
    const std::wstring directory = temporaryDirectory();
    ASSERT_FALSE(directory.empty());
    EXPECT_EQ(directory.back(), L'\\');
    for (const unsigned long firstSize : {1UL, 3UL, static_cast<unsigned long>(directory.size())})
        EXPECT_EQ(temporaryDirectory(firstSize), directory) << firstSize;
}
