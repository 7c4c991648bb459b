// The shared routines on a real file system under Wine.
#include <gtest/gtest.h>

#include "DottedVersion.h"
#include "Driver.h"
#include "Errors.h"
#include "Paths.h"
#include "SharedRoutines.h"

using namespace driver;

namespace {

class CreateDirectoryPathTest : public ::testing::Test {
protected:
    TempDir root;
    std::string base = Narrow(root.Path());
    bool IsDirectory(const std::wstring& relative) const { return DirectoryExists(Narrow(root / relative)); }
};

}  // namespace

TEST_F(CreateDirectoryPathTest, CreatesEveryMissingLevelThatEndsWithABackslash)
{
    CreateDirectoryPath(base + "Data\\Sub\\");
    EXPECT_TRUE(IsDirectory(L"Data\\Sub"));

    CreateDirectoryPath(base + "Skins\\Blue");  // the last component has no backslash: it is a file name
    EXPECT_TRUE(IsDirectory(L"Skins"));
    EXPECT_FALSE(root.Exists(L"Skins\\Blue"));

    CreateDirectoryPath(base + "Data\\Sub\\");  // every level exists: nothing changes, nothing raised
    EXPECT_TRUE(IsDirectory(L"Data\\Sub"));
}

TEST_F(CreateDirectoryPathTest, IgnoresPathsWithoutABackslash)
{
    EXPECT_NO_THROW(CreateDirectoryPath(""));
    EXPECT_NO_THROW(CreateDirectoryPath("Data"));
    EXPECT_FALSE(root.Exists(L"Data"));
}

TEST_F(CreateDirectoryPathTest, RaisesTheSystemErrorWhenAFileIsInTheWay)
{
    root.WriteFile(L"Data", "a file, not a directory");
    try {
        CreateDirectoryPath(base + "Data\\Sub\\");
        FAIL() << "no error raised";
    } catch (const EInOutError& error) {
        EXPECT_EQ(error.Code(), static_cast<unsigned long>(ERROR_ALREADY_EXISTS));
        EXPECT_STREQ(error.what(), "I/O error 183");
    }
}

TEST_F(CreateDirectoryPathTest, WorksWithChineseNamesAndPathsLongerThanMaxPath)
{
    std::string deep = base;
    while (deep.size() < 300) deep += "数据目录0123456789\\";
    CreateDirectoryPath(deep);
    EXPECT_TRUE(DirectoryExists(deep));
}

TEST(DottedVersion, OrdersPartByPartAsNumbersOfAnyLengthAndTakesNothingElse)
{
    using order = std::strong_ordering;
    const struct {
        const char* a;
        const char* b;
        order expected;
    } pairs[] = {
        {"1.0", "1.0.0", order::equal},
        {"01.2", "1.2", order::equal},
        {"0", "0.000.0", order::equal},
        {"1.10", "1.9", order::greater},
        {"1.0.1", "1", order::greater},
        {"2", "1.99.99", order::greater},
        {"1.2", "1.10", order::less},
        // Far beyond 64 bits: compared as digits, never parsed into a number that could overflow.
        {"99999999999999999999999", "100000000000000000000000", order::less},
        {"3.00000000000000000000000000042", "3.41", order::greater},
    };
    for (const auto& pair : pairs) {
        SCOPED_TRACE(std::string(pair.a) + " against " + pair.b);
        EXPECT_TRUE(IsDottedVersion(pair.a) && IsDottedVersion(pair.b));
        EXPECT_TRUE(CompareDottedVersions(pair.a, pair.b) == pair.expected);
        EXPECT_TRUE(CompareDottedVersions(pair.b, pair.a) == 0 <=> pair.expected);
    }
    for (const char* text : {"", ".", "1.", ".1", "1..2", "1.a", " 1", "1 ", "v1.0", "1,0", "1.-2", "+1", "１.0"}) {
        EXPECT_FALSE(IsDottedVersion(text)) << '"' << text << '"';
    }
}

TEST(ApiPath, AbsolutePathsGetTheLongPathPrefixAndOthersStayAsTheyAre)
{
    EXPECT_EQ(ToApiPath("C:\\Suite\\Data\\"), L"\\\\?\\C:\\Suite\\Data\\");
    EXPECT_EQ(ToApiPath("\\\\server\\share\\x"), L"\\\\?\\UNC\\server\\share\\x");
    EXPECT_EQ(ToApiPath("\\\\?\\C:\\x"), L"\\\\?\\C:\\x") << "never prefixed twice";
    EXPECT_EQ(ToApiPath("Data\\x"), L"Data\\x");
    EXPECT_EQ(ToApiPath("C:升级"), L"C:升级") << "drive-relative paths cannot take the prefix";
}

TEST(ProgramDirectoryTest, IsTheExecutablesDirectoryWithATrailingBackslash)
{
    EXPECT_EQ(ProgramDirectory(), Narrow(BinDirectory()));
    EXPECT_EQ(ExtractFileName("C:\\a\\b.txt"), "b.txt");
    EXPECT_EQ(ExtractFileName("C:b.txt"), "b.txt");
    EXPECT_EQ(ExtractFileName("b.txt"), "b.txt");
}

TEST(DelayWithMessagesTest, PausesAboutATenthOfASecondAndDispatchesWaitingMessages)
{
    HWND window = CreateWindowW(L"STATIC", L"", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    PostMessageW(window, WM_CLOSE, 0, 0);
    const auto start = std::chrono::steady_clock::now();
    DelayWithMessages();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_FALSE(IsWindow(window)) << "the waiting close request was not dispatched";
}
