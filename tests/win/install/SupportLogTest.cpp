// The support log Temp\Update.log as support reads it after a user's call: what each kind of run leaves there, that
// it outlives the staging folder, and that it moves aside only once it has grown past 1 MiB.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "InstallTestSupport.h"
#include "Sha256.h"

using namespace install_test;

namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";

// "@" in a part stands for the program directory.
std::vector<std::string> InDirectory(std::vector<std::string> parts, const std::string& directory)
{
    for (std::string& part : parts) {
        for (size_t at = part.find('@'); at != std::string::npos; at = part.find('@', at + directory.size())) {
            part.replace(at, 1, directory);
        }
    }
    return parts;
}

}  // namespace

// Every run begins with where it ran and which updater ran it, names the package by its size and SHA-256, and ends
// with the message the user saw, word for word, after the run's duration; in between, the lines of what happened.
TEST(SupportLog, EachRunLeavesTheLinesSupportNeeds)
{
    struct Case {
        const char* name;
        std::vector<Payload> files;
        bool holdLocked;     // a test process holds Data\locked.dll open without sharing
        bool logUnwritable;  // a directory stands where the log goes
        std::wstring box;    // the start of the message the user sees
        std::vector<std::string> events;
    };
    const Case cases[] = {
        {"a successful install",
         {{"a.txt", "", "new a"}, {"locked.dll", "Data\\", "new locked"}},
         false,
         false,
         L"升级成功!",
         {"descriptor: version 2.0, 2 files, not signed, not checked (no UpdateKey.pub here)", "placed: @a.txt (new)",
          "placed: @Data\\locked.dll (replaced)", "committed: version 2.0", "package deleted: @Quellis.sky",
          "recording version 2.0", "finished: backups and journal removed"}},
        {"a refused package",
         {{"a.txt", "", "new a"}, {"Update.log", "Temp\\", "a log of the author's"}},
         false,
         false,
         L"升级说明中的第 2 个文件不能安装",
         {"descriptor: version 2.0, 2 files"}},
        {"a rolled-back install",
         {{"a.txt", "", "new a"}, {"locked.dll", "Data\\", "new locked"}},
         true,
         false,
         L"无法替换文件 ",
         {"placed: @a.txt (new)", "cannot move aside the file @Data\\locked.dll: ", "rollback: undoing",
          "undone: moved back: @a.txt -> @Temp\\Package\\a.txt", "rollback: done, the journal removed"}},
        {"a log that cannot be written changes nothing", {{"a.txt", "", "new a"}}, false, true, L"升级成功!", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramDir directory;
        const std::string at = Narrow(directory.Path());
        directory.WriteFile(L"Data\\locked.dll", "old locked");
        if (c.logUnwritable) directory.WriteFile(L"Temp\\Update.log\\in the log's place", "");
        WritePackage(directory, "2.0", c.files);
        const size_t packageSize = directory.ReadFile(L"Quellis.sky").size();
        const std::string sha256 = signing::Hex(signing::FileSha256(Narrow(directory / L"Quellis.sky")));

        Updater app(directory);
        HANDLE held = c.holdLocked ? CreateFileW((directory / L"Data\\locked.dll").c_str(), GENERIC_READ, 0, nullptr,
                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                                   : INVALID_HANDLE_VALUE;
        app.ClickStart();
        const auto box = app.NextBox();
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        ASSERT_TRUE(box.has_value());
        EXPECT_EQ(box->text.rfind(c.box, 0), 0u) << Describe(*box);

        const std::vector<std::string> events = SupportLogEvents(directory);
        if (c.logUnwritable) {
            EXPECT_TRUE(events.empty());
            EXPECT_EQ(directory.ReadFile(L"a.txt"), "new a");
            continue;
        }
        std::vector<std::string> expected = {"start: install in " + at + ", Update.exe version 1.0.0.0",
                                             "package: " + at + "Quellis.sky, " + std::to_string(packageSize) +
                                                 " bytes, SHA-256 " + sha256};
        for (const std::string& part : InDirectory(c.events, at)) expected.push_back(part);
        EXPECT_EQ(FirstMissingInOrder(events, expected), "") << ::testing::PrintToString(events);
        if (c.holdLocked) {
            EXPECT_NE(events.end(), std::find_if(events.begin(), events.end(),
                                                 [](const std::string& e) {
                                                     return e.find("cannot move aside") != e.npos &&
                                                            e.find("（错误 32）") != e.npos;
                                                 }))
                << "the failing file with the system's text and its error number";
        }
        static const std::regex shown(R"(message \((information|error)\) after \d+\.\d{3} s: (.*))");
        std::smatch match;
        ASSERT_TRUE(std::regex_match(events.back(), match, shown)) << events.back();
        EXPECT_EQ(match[2].str(), Narrow(box->text)) << "the last line is the message the user saw, word for word";
    }
}

// The staging folder is emptied at every install, and the log beside it is not touched by that; a log that has
// grown past 1 MiB becomes Update.log.1 (one older log kept), and the run starts a new one.
TEST(SupportLog, AnEarlierLogOutlivesTheStagingFolderAndMovesAsideOnlyPastOneMebibyte)
{
    constexpr size_t kMebibyte = 1024 * 1024;
    const std::string earlierLine = "2026-12-01 09:00:00.000 [42] start: install in an earlier run\r\n";
    const std::string padding = "2026-12-01 09:00:01.000 [42] ";
    for (const size_t size : {earlierLine.size() + 3, kMebibyte, kMebibyte + 1}) {
        SCOPED_TRACE(size);
        ProgramDir directory;
        std::string earlier = kBom + earlierLine;
        if (size > earlier.size()) earlier += padding + std::string(size - earlier.size() - padding.size() - 2, 'x');
        if (size > earlier.size()) earlier += "\r\n";
        ASSERT_EQ(earlier.size(), size);
        directory.WriteFile(L"Temp\\Update.log", earlier);
        directory.WriteFile(L"Temp\\Update.log.1", "the log before the earlier one");
        directory.WriteFile(L"Temp\\Package\\stale.txt", "left by an earlier run");
        WritePackage(directory, "2.0", {{"a.txt", "", "new a"}});

        Updater app(directory);
        app.ClickStart();
        const auto box = app.NextBox();
        ASSERT_TRUE(box && box->text == L"升级成功!") << (box ? Describe(*box) : "no box");
        EXPECT_FALSE(directory.Exists(L"Temp\\Package\\stale.txt")) << "the staging folder was emptied";

        const std::string log = directory.ReadFile(L"Temp\\Update.log");
        const std::vector<std::string> events = SupportLogEvents(directory);
        ASSERT_FALSE(events.empty());
        if (size > kMebibyte) {
            EXPECT_EQ(directory.ReadFile(L"Temp\\Update.log.1"), earlier);
            EXPECT_EQ(events.front().rfind("start: install in ", 0), 0u) << events.front();
        } else {
            EXPECT_EQ(log.substr(0, earlier.size()), earlier) << "appended to, one byte order mark at its start";
            EXPECT_EQ(directory.ReadFile(L"Temp\\Update.log.1"), "the log before the earlier one");
            EXPECT_EQ(events.front(), "start: install in an earlier run");
        }
        EXPECT_NE(events.back().find(": 升级成功!"), std::string::npos) << events.back();
    }
}
