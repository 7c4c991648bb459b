// The install flow in this process, driven through a stand-in for the window: a flow reaches the window only
// through IFlowView, so a view that records what it is told shows what the window would have shown, in order.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>

#include "FlowView.h"
#include "InstallFlow.h"
#include "InstallTestSupport.h"
#include "XmlDocument.h"
#include "ZipExtractor.h"

using namespace install_test;

// Found by argument-dependent lookup, so it lives beside Notice in the global namespace.
void PrintTo(const Notice& notice, std::ostream* out)
{
    *out << "{\"" << notice.text << "\", icon 0x" << std::hex << static_cast<UINT>(notice.icon) << std::dec
         << (notice.owner == NoticeOwner::Application ? ", the application's window" : ", the main window") << ", \""
         << notice.caption << "\"}";
}

namespace {

class RecordingView final : public IFlowView {
public:
    void SetStatus(const std::string& text) override { statuses.push_back(text); }
    void Notify(const Notice& notice) override { notices.push_back(notice); }
    void PaintNow() override {}
    void HandOver() override {}

    std::vector<std::string> statuses;
    std::vector<Notice> notices;
};

struct Case {
    const char* name;
    bool suiteCloses;
    std::function<void(const ProgramDir&)> arrange;
    std::vector<std::string> statuses;
    std::vector<Notice> notices;
};

}  // namespace

TEST(InstallFlowThroughAStandInView, RecordsWhatTheWindowWouldShow)
{
    const std::vector<Payload> payload = {{"a.txt", "Data\\", "new"}};
    const Case cases[] = {
        {"a suite program stays open",
         false,
         [](const ProgramDir&) {},
         {},
         {{"请先关闭正在运行的程序!", NoticeIcon::Error}}},
        {"no package", true, [](const ProgramDir&) {}, {}, {{"未检查到升级程序!", NoticeIcon::Information}}},
        {"no unzip32.dll: its notice, then the install goes on to find no descriptor",
         true,
         [&](const ProgramDir& directory) {
             WritePackage(directory, "2.0", payload);
             directory.Remove(L"unzip32.dll");
         },
         {"正在准备升级，请稍候..."},
         {{"找不到unzip32.dll", NoticeIcon::Information, NoticeOwner::Application},
          {"升级程序不完整!", NoticeIcon::Error}}},
        {"a package installs",
         true,
         [&](const ProgramDir& directory) { WritePackage(directory, "2.0", payload); },
         {"正在准备升级，请稍候...", "正在升级  a.txt...", "正在更新版本号...", ""},
         {{"升级成功!", NoticeIcon::Information}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ProgramDir directory;
        c.arrange(directory);
        RecordingView view;
        TXMLDocument xml;
        const TZipExtractor extractor;
        TInstallFlow(
            view, Narrow(directory.Path()), xml, extractor, [&] { return c.suiteCloses; }, TElevation(false))
            .Run();
        EXPECT_EQ(view.statuses, c.statuses);
        EXPECT_EQ(view.notices, c.notices);
        if (c.notices.back().text == "升级成功!") {
            EXPECT_EQ(directory.ReadFile(L"Data\\a.txt"), "new");
            EXPECT_FALSE(directory.Exists(L"Quellis.sky"));
        } else {
            EXPECT_FALSE(directory.Exists(L"Data\\a.txt"));
        }
    }
}
