// Entry names: decoding, the safety check before extraction, stored names of packed files; and the text
// helpers they rest on (UTF-8 validation, patterns, the long form of Windows paths).
#include <gtest/gtest.h>

#include <vector>

#include "test_support.hpp"
#include "zipcore/entry_name.hpp"
#include "zipcore/error.hpp"
#include "zipcore/long_path.hpp"
#include "zipcore/name_match.hpp"
#include "zipcore/text.hpp"

namespace {

using zipcore::ErrorKind;

ErrorKind kindOf(auto&& action)
{
    try {
        action();
    } catch (const zipcore::Error& error) {
        return error.kind();
    }
    ADD_FAILURE() << "no error";
    return ErrorKind::Usage;
}

TEST(EntryNameDecoding, FollowsTheUtf8FlagThenTheHostThenTheOemCodePage)
{
    const std::string chinese = "\xE4\xB8\xAD\xE6\x96\x87\xE5\x90\x8D.txt";  // 中文名.txt
    EXPECT_EQ(zipcore::decodeEntryName(chinese, true, 0), chinese);
    // Debian's zip: UTF-8 without the flag, made on Unix.
    EXPECT_EQ(zipcore::decodeEntryName(chinese, false, zipcore::kHostUnix), chinese);
    // Not UTF-8, or not made on Unix: the OEM code page (CP437 here).
    EXPECT_EQ(zipcore::decodeEntryName("\x80\x81\xE1.txt", false, zipcore::kHostUnix), "\xC3\x87\xC3\xBC\xC3\x9F.txt");
    EXPECT_EQ(zipcore::decodeEntryName("\xE4\xB8", false, 0), "\xCE\xA3\xE2\x95\x95");
    EXPECT_EQ(kindOf([] { zipcore::decodeEntryName("\xFF\xFE", true, 0); }), ErrorKind::Corrupt);
}

TEST(SafeFlatName, KeepsTheLastComponentOfHarmlessNames)
{
    EXPECT_EQ(zipcore::safeFlatName("a.txt"), "a.txt");
    EXPECT_EQ(zipcore::safeFlatName("dir/sub/a.txt"), "a.txt");
    EXPECT_EQ(zipcore::safeFlatName("dir\\sub\\a.txt"), "a.txt");
    EXPECT_EQ(zipcore::safeFlatName("dir//a.txt"), "a.txt");
    EXPECT_EQ(zipcore::safeFlatName("\xE4\xB8\xAD\xE6\x96\x87.txt"), "\xE4\xB8\xAD\xE6\x96\x87.txt");
    // Near misses of the refused forms stay ordinary names. The longest component Windows allows is 255 UTF-16
    // units, where a character beyond the Basic Multilingual Plane (U+1D4B3 here) counts as two.
    std::string longest;
    for (int i = 0; i < 127; ++i) longest += "\xF0\x9D\x92\xB3";
    const std::vector<std::string> harmless = {
        "a..b.txt",    "..a",   "com10.txt",           "console.txt",         "nulx", "lpt", "com0",
        "auxiliary.c", "clock", "COM\xC2\xB9\xC2\xB9", std::string(255, 'x'), longest};
    for (const std::string& name : harmless) EXPECT_EQ(zipcore::safeFlatName(name), name);
}

TEST(SafeFlatName, RefusesNamesThatLeaveTheTargetOrReachDevices)
{
    const char* hostile[] = {
        "",
        ".",
        "..",
        "../evil.txt",
        "..\\evil.txt",
        "a/../../evil.txt",
        "a\\..\\..\\evil.txt",
        "a/./b.txt",
        "/etc/evil.txt",
        "\\evil.txt",
        "//server/share/evil.txt",
        "\\\\server\\share\\evil.txt",
        "C:\\evil.txt",
        "C:evil.txt",
        "a.txt:evil",
        "CON",
        "con",
        "NUL.txt",
        "nul.tar.gz",
        "COM1",
        "com9.log",
        "LPT1.txt",
        "aux.c",
        "PRN",
        "CONIN$",
        "con .txt",
        "dir/NUL/x.txt",
        "COM\xC2\xB9.txt",
        "evil.txt.",
        "evil.txt ",
        ("a\x01"
         "b.txt"),
        "tab\there",
        "a\x7F",
        "dir/",
        "what?.txt",
        "a*b",
        "a<b",
        "a|b",
        "a\"b",
        "CLOCK$",
        "Clock$.txt",
        "lpt\xC2\xB3",
        "com\xC2\xB2 .log",
    };
    for (const std::string name : hostile) {
        SCOPED_TRACE(name);
        EXPECT_EQ(kindOf([&] { zipcore::safeFlatName(name); }), ErrorKind::Unsafe);
    }
}

TEST(SafeFlatName, NamesTheRefusedEntryPrintably)
{
    try {
        zipcore::safeFlatName("..\\x\x01.txt");
        FAIL();
    } catch (const zipcore::Error& error) {
        EXPECT_NE(std::string(error.what()).find("\"..\\x?.txt\""), std::string::npos) << error.what();
    }
}

TEST(EntryNameForPath, JunksDirectoriesOrKeepsARelativePath)
{
    EXPECT_EQ(zipcore::entryNameForPath("/home/author/files/a.txt", true), "a.txt");
    EXPECT_EQ(zipcore::entryNameForPath("/home/author/../files/./a.txt", false), "home/author/files/a.txt");
    EXPECT_EQ(zipcore::entryNameForPath("C:\\Program Files\\Tavilo\\a.txt", false), "Program Files/Tavilo/a.txt");
    EXPECT_EQ(kindOf([] { zipcore::entryNameForPath("/home/author/", true); }), ErrorKind::Usage);
    EXPECT_EQ(kindOf([] { zipcore::entryNameForPath("/", false); }), ErrorKind::Usage);
    EXPECT_EQ(kindOf([] { zipcore::entryNameForPath("bad\xFF.txt", true); }), ErrorKind::Usage);
}

TEST(Utf8Validation, RefusesMalformedSequences)
{
    EXPECT_TRUE(zipcore::isValidUtf8("plain"));
    EXPECT_TRUE(zipcore::isValidUtf8("\xE4\xB8\xAD\xF0\x9F\x98\x80"));
    for (const char* bad :
         {"\xC0\x80", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE4\xB8", "\x80", "\xF8\x88\x80\x80\x80"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(zipcore::isValidUtf8(bad));
    }
}

TEST(NamePatterns, MatchWildcardsWithOrWithoutCase)
{
    EXPECT_TRUE(zipcore::matchesPattern("Update.xml", "update.XML", true));
    EXPECT_FALSE(zipcore::matchesPattern("Update.xml", "update.xml", false));
    EXPECT_TRUE(zipcore::matchesPattern("dir/a.TXT", "*.txt", true));
    EXPECT_TRUE(zipcore::matchesPattern("\xC3\x89T\xC3\x89.TXT", "?t\xC3\xA9.*", true));  // ÉTÉ.TXT, ?té.*
    EXPECT_TRUE(zipcore::matchesPattern("abXbYc", "a*b*c", false));
    EXPECT_FALSE(zipcore::matchesPattern("abXbY", "a*b*c", false));
    EXPECT_TRUE(zipcore::matchesPattern("\xE4\xB8\xAD.txt", "?.txt", false));  // '?' is one character, not one byte
    EXPECT_FALSE(zipcore::matchesPattern("a.txt", "?", false));
    EXPECT_TRUE(zipcore::matchesPattern("", "*", false));
}

TEST(FileNames, CompareAsWindowsDoesByUnicodeUpperCasePairs)
{
    const struct {
        const char* a;
        const char* b;
        bool same;
    } pairs[] = {
        {"Update.XML", "update.xml", true},
        {"\xC3\x89t\xC3\xA9.txt", "\xC3\xA9T\xC3\x89.TXT", true},        // Été, éTÉ
        {"\xC3\xBF", "\xC5\xB8", true},                                  // ÿ, Ÿ
        {"\xCF\x83\xCE\xAF\xCF\x83", "\xCE\xA3\xCE\x8A\xCE\xA3", true},  // σίσ, ΣΊΣ
        {"\xCF\x82", "\xCE\xA3", false},                                 // final ς: Windows keeps it
        {"\xC2\xB5", "\xCE\x9C", false},                                 // micro sign, capital mu
        {"\xD1\x91\xD0\xB6", "\xD0\x81\xD0\x96", true},                  // ёж, ЁЖ
        {"\xC7\x86", "\xC7\x84", true},                                  // ǆ, Ǆ
        {"\xC7\x85", "\xC7\x84", false},                                 // title-case ǅ stays
        {"stra\xC3\x9F"
         "e",
         "STRASSE", false},                   // ß has no one-letter upper case
        {"\xC3\x9F", "\xE1\xBA\x9E", false},  // ß, ẞ
        {"\xC4\xB1", "I", false},             // dotless ı: Windows keeps it
        {"\xC4\xB0", "i", false},             // İ
        {"i", "I", true},
        {"\xC5\xBF", "S", false},                                        // long ſ
        {"\xF0\x90\x90\xA8", "\xF0\x90\x90\x80", false},                 // Deseret: beyond the BMP
        {"\xE4\xB8\xAD\xE6\x96\x87", "\xE4\xB8\xAD\xE6\x96\x87", true},  // 中文
        {"a\xFF", "A\xFF", true},                                        // not UTF-8: bytes kept
        {"e\xCC\x81", "\xC3\x89", false},                                // no normalisation
    };
    for (const auto& pair : pairs) {
        SCOPED_TRACE(std::string(pair.a) + " / " + pair.b);
        EXPECT_EQ(zipcore::sameFileName(pair.a, pair.b), pair.same);
        EXPECT_EQ(zipcore::fileNameKey(pair.a) == zipcore::fileNameKey(pair.b), pair.same);
        // The extraction library's case-insensitive patterns follow the same rule.
        EXPECT_EQ(zipcore::matchesPattern(pair.a, pair.b, true), pair.same);
    }
    EXPECT_EQ(zipcore::fileNameKey("\xC3\xA9t\xC3\xA9.txt"), "\xC3\x89T\xC3\x89.TXT");
}

TEST(ExtendedLengthPath, PrefixesOnlyLongFullPaths)
{
    const std::wstring longTail(300, L'x');
    EXPECT_EQ(zipcore::extendedLengthPath(L"C:\\short\\a.txt"), L"C:\\short\\a.txt");
    EXPECT_EQ(zipcore::extendedLengthPath(L"C:\\" + longTail), L"\\\\?\\C:\\" + longTail);
    EXPECT_EQ(zipcore::extendedLengthPath(L"C:/dir/" + longTail), L"\\\\?\\C:\\dir\\" + longTail);
    EXPECT_EQ(zipcore::extendedLengthPath(L"\\\\server\\share\\" + longTail),
              L"\\\\?\\UNC\\server\\share\\" + longTail);
    EXPECT_EQ(zipcore::extendedLengthPath(L"\\\\?\\C:\\" + longTail), L"\\\\?\\C:\\" + longTail);
    EXPECT_EQ(zipcore::extendedLengthPath(L"relative\\" + longTail), L"relative\\" + longTail);
    // The limit lies where CreateDirectoryW stops: MAX_PATH less room for an 8.3 name.
    const std::wstring justShort = L"C:\\" + std::wstring(zipcore::kLongPathThreshold - 4, L'y');
    EXPECT_EQ(zipcore::extendedLengthPath(justShort), justShort);
    EXPECT_EQ(zipcore::extendedLengthPath(justShort + L"z"), L"\\\\?\\" + justShort + L"z");
}

}  // namespace
