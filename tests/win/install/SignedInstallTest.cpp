// Signed packages through the window: with UpdateKey.pub in the program directory the real Update.exe installs a
// package only when its signature and every payload's SHA-256 hold, and refuses it otherwise with the message of
// the check that failed, before anything moves.
#include <gtest/gtest.h>

#include "InstallTestSupport.h"
#include "SignatureTexts.h"

using namespace install_test;
namespace text = signing_text;

namespace {

const std::vector<Payload> kFiles = {{"app.dll", "", "version 2"}, {"说明.txt", "文档\\", "汉字内容"}};

void ExpectSucceeded(Updater& app)
{
    app.ClickStart();
    const auto box = app.NextBox();
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->text, L"升级成功!") << Describe(*box);
}

class SignedInstall : public ::testing::Test {
protected:
    ProgramDir directory;
    AuthorKey author;
};

}  // namespace

TEST_F(SignedInstall, EachFailedCheckRefusesThePackageWithItsMessageAndChangesNothing)
{
    const AuthorKey stranger;
    struct Case {
        const char* what;
        std::function<void(const TempDir&)> writePackage;
        std::string messageStart;
        std::string messageEnd;
        std::wstring faults;  // the test build's switches, to run it instead of the release
    };
    const std::string fileDiffers = text::RefusedFileDiffers(text::FileDiffers("app.dll", text::kContentDiffers));
    const std::vector<Case> cases = {
        {"a changed payload",
         [&](const TempDir& d) {
             author.WriteSignedPackage(d, "2.0", kFiles, [](auto& entries) { entries["app.dll"] = "malware"; });
         },
         fileDiffers,
         "",
         {}},
        {"a changed descriptor",
         [&](const TempDir& d) {
             author.WriteSignedPackage(d, "2.0", kFiles, [](auto& entries) {
                 std::string& descriptor = entries["Update.xml"];
                 descriptor.replace(descriptor.find("2.0"), 3, "9.9");
             });
         },
         text::RefusedSignatureMismatch(),
         "",
         {}},
        {"a missing Update.sig",
         [&](const TempDir& d) {
             author.WriteSignedPackage(d, "2.0", kFiles, [](auto& entries) { entries.erase("Update.sig"); });
         },
         text::RefusedNoSignature(),
         "",
         {}},
        {"an unsigned package",
         [](const TempDir& d) { WritePackage(d, "2.0", kFiles); },
         text::RefusedNoSignature(),
         "",
         {}},
        {"another key",
         [&](const TempDir& d) { stranger.WriteSignedPackage(d, "2.0", kFiles); },
         text::RefusedSignatureMismatch(),
         "",
         {}},
        {"an unreadable UpdateKey.pub",
         [&](const TempDir& d) {
             d.WriteFile(L"UpdateKey.pub", "Tavilo update public key (ECDSA P-256)\r\n0123\r\n");
             author.WriteSignedPackage(d, "2.0", kFiles);
         },
         "无法使用公钥文件 ",
         text::RefusedKeyUnusable(""),
         {}},
        // A key that is there is a key, whatever stands in its place or however the question fails.
        {"a folder named UpdateKey.pub",
         [&](const TempDir& d) {
             d.Remove(L"UpdateKey.pub");
             d.WriteFile(L"UpdateKey.pub\\UpdateKey.pub", author.PublicKeyFile());
             author.WriteSignedPackage(d, "2.0", kFiles);
         },
         "无法使用公钥文件 ",
         text::RefusedKeyUnusable(""),
         {}},
        // Wine answers whether a file it can see exists; the test build is told to be refused the answer.
        {"UpdateKey.pub that cannot be looked at", [](const TempDir& d) { WritePackage(d, "2.0", kFiles); },
         text::RefusedNoSignature(), "", L"--refuse-attributes=UpdateKey.pub"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ProgramDir program;
        program.WriteFile(L"app.dll", "version 1");
        program.WriteFile(L"UpdateKey.pub", author.PublicKeyFile());
        c.writePackage(program);
        const Picture before = TakePicture(program);

        if (!c.faults.empty()) program.CopyFromBin(L"UpdateWithFaults.exe");
        Updater app(program, c.faults.empty() ? L"Update.exe" : L"UpdateWithFaults.exe", c.faults);
        app.ClickStart();
        const auto box = app.NextBox();
        ASSERT_TRUE(box.has_value());
        const std::string message = Narrow(box->text);
        EXPECT_TRUE(message.starts_with(c.messageStart) && message.ends_with(c.messageEnd)) << Describe(*box);
        EXPECT_EQ(box->icon, BoxIcon::Error);
        EXPECT_EQ(box->caption, L"提示");
        EXPECT_EQ(Difference(before, TakePicture(program)), "") << "nothing moves and the package stays";
    }
}

TEST_F(SignedInstall, SignedPackagesInstallAndANewKeyInAPackageTakesOver)
{
    // Without UpdateKey.pub, an unsigned and a signed package install as any package does.
    WritePackage(directory, "1.1", kFiles);
    {
        Updater app(directory);
        ExpectSucceeded(app);
    }
    author.WriteSignedPackage(directory, "1.2", kFiles);
    {
        Updater app(directory);
        ExpectSucceeded(app);
    }
    EXPECT_EQ(directory.ReadFile(L"文档\\说明.txt"), "汉字内容");
    EXPECT_FALSE(directory.Exists(L"UpdateKey.floor")) << "no floor is kept where packages are not checked";

    // With it, a signed package installs, and one that brings a new key hands the trust on to that key.
    directory.WriteFile(L"UpdateKey.pub", author.PublicKeyFile());
    const AuthorKey next;
    author.WriteSignedPackage(directory, "2.0",
                              {{"app.dll", "", "version 3"}, {"UpdateKey.pub", "", next.PublicKeyFile()}});
    {
        Updater app(directory);
        ExpectSucceeded(app);
    }
    EXPECT_EQ(directory.ReadFile(L"app.dll"), "version 3");
    EXPECT_EQ(directory.ReadFile(L"UpdateKey.pub"), next.PublicKeyFile());

    author.WriteSignedPackage(directory, "2.1", {{"app.dll", "", "signed by the old key"}});
    {
        Updater app(directory);
        app.ClickStart();
        const auto box = app.NextBox();
        ASSERT_TRUE(box.has_value());
        EXPECT_EQ(Narrow(box->text), text::RefusedSignatureMismatch()) << Describe(*box);
    }
    next.WriteSignedPackage(directory, "2.1", {{"app.dll", "", "version 4"}});
    {
        Updater app(directory);
        ExpectSucceeded(app);
    }
    EXPECT_EQ(directory.ReadFile(L"app.dll"), "version 4");
}

// A payload changed after the check, on its way from the staging folder to its place (the test build changes it
// just before its move): every placed file is checked again before the commit, and the install is undone.
TEST_F(SignedInstall, APayloadChangedBetweenTheCheckAndItsMoveIsUndone)
{
    const TempDir traces;
    auto prepare = [&](ProgramDir& program) {
        program.CopyFromBin(L"UpdateWithFaults.exe");
        program.WriteFile(L"app.dll", "version 1");
        program.WriteFile(L"UpdateKey.pub", author.PublicKeyFile());
        author.WriteSignedPackage(program, "2.0", kFiles);
    };
    std::vector<std::string> operations;
    {
        ProgramDir program;
        prepare(program);
        Updater app(program, L"UpdateWithFaults.exe", L"--trace=\"" + (traces / L"trace.txt") + L"\"");
        ExpectSucceeded(app);
        operations = ReadTrace(traces / L"trace.txt");
    }
    for (const Payload& file : kFiles) {
        SCOPED_TRACE(file.name);
        unsigned move = 0;
        for (unsigned i = 0; i < operations.size(); ++i) {
            if (operations[i].find("\tmove\t") != std::string::npos &&
                operations[i].find("Temp\\Package\\" + file.name + "\t") != std::string::npos) {
                move = i + 1;
            }
        }
        ASSERT_GT(move, 0u);
        ProgramDir program;
        prepare(program);
        const Picture before = TakePicture(program);
        Updater app(program, L"UpdateWithFaults.exe", L"--alter-at=" + std::to_wstring(move));
        app.ClickStart();
        const auto box = app.NextBox();
        ASSERT_TRUE(box.has_value());
        EXPECT_EQ(Narrow(box->text), text::RefusedFileDiffers(text::FileDiffers(file.name, text::kContentDiffers)))
            << Describe(*box);
        EXPECT_EQ(box->icon, BoxIcon::Error);
        EXPECT_EQ(Difference(before, TakePicture(program)), "") << "everything put back, the package kept";
        EXPECT_TRUE(JournalLeftovers(program).empty());
    }
}

// Update.sig is the install's own name only where signatures are checked: without UpdateKey.pub a payload of that
// name installs like any other; with it, the same package is refused before anything moves.
TEST_F(SignedInstall, APayloadNamedUpdateSigIsRefusedOnlyWhereSignaturesAreChecked)
{
    const std::vector<Payload> files = {{"app.dll", "", "version 2"}, {"update.SIG", "Data\\", "a payload"}};
    for (const bool keyPresent : {false, true}) {
        SCOPED_TRACE(keyPresent ? "UpdateKey.pub present" : "no UpdateKey.pub");
        ProgramDir program;
        if (keyPresent) program.WriteFile(L"UpdateKey.pub", author.PublicKeyFile());
        WritePackage(program, "2.0", files);
        const Picture before = TakePicture(program);
        Updater app(program);
        app.ClickStart();
        const auto box = app.NextBox();
        ASSERT_TRUE(box.has_value());
        if (!keyPresent) {
            EXPECT_EQ(box->text, L"升级成功!") << Describe(*box);
            EXPECT_EQ(program.ReadFile(L"Data\\update.SIG"), "a payload");
            continue;
        }
        EXPECT_EQ(box->text.rfind(L"升级说明中的第 2 个文件不能安装（文件名 \"update.SIG\"", 0), 0u) << Describe(*box);
        EXPECT_NE(box->text.find(L"签名文件 Update.sig"), std::wstring::npos) << Describe(*box);
        EXPECT_EQ(Difference(before, TakePicture(program)), "");
    }
}

// A signature says who built a package, not that it is newer. Each signed install raises the floor in
// UpdateKey.floor, and a package at or below it (an old signed package placed again) is refused before anything
// moves; so is a version that cannot be ordered, and a floor that cannot be read.
TEST_F(SignedInstall, ASignedPackageMustBeNewerThanTheLastSignedInstall)
{
    struct Step {
        const char* what;
        std::string version;
        std::vector<std::wstring> named;  // parts of the refusal; none: it installs and becomes the floor
        std::function<void()> before = {};
    };
    const std::vector<Step> steps = {
        {"the first signed install has no floor", "1.9", {}},
        {"a newer one, 1.10 above 1.9", "1.10", {}},
        {"the older one placed again", "1.9", {L"已安装的版本是 1.10", L"升级包的版本是 1.9", L"不比已安装的版本新"}},
        {"the same version written otherwise", "01.10.0", {L"已安装的版本是 1.10", L"升级包的版本是 01.10.0"}},
        {"a version that is not dotted numbers", "2.0-beta", {L"\"2.0-beta\"", L"不是用点分隔的数字"}},
        {"a floor that holds no version",
         "2.0",
         {L"无法读取已安装版本的记录 ", L"UpdateKey.floor"},
         [&] { directory.WriteFile(L"UpdateKey.floor", "1.10 or so\r\n"); }},
        {"a folder named UpdateKey.floor",
         "2.0",
         {L"无法读取已安装版本的记录 ", L"UpdateKey.floor"},
         [&] {
             directory.Remove(L"UpdateKey.floor");
             directory.WriteFile(L"UpdateKey.floor\\1.10", "");
         }},
        {"a floor put back by hand",
         "2.0",
         {},
         [&] {
             RemoveTree(directory / L"UpdateKey.floor");
             directory.WriteFile(L"UpdateKey.floor", "1.10");
         }},
    };
    directory.WriteFile(L"app.dll", "version 1");
    directory.WriteFile(L"UpdateKey.pub", author.PublicKeyFile());
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        if (step.before) step.before();
        author.WriteSignedPackage(directory, step.version, {{"app.dll", "", "version " + step.version}});
        const Picture before = TakePicture(directory);
        Updater app(directory);
        app.ClickStart();
        const auto box = app.NextBox();
        ASSERT_TRUE(box.has_value());
        if (step.named.empty()) {
            EXPECT_EQ(box->text, L"升级成功!") << Describe(*box);
            EXPECT_EQ(directory.ReadFile(L"UpdateKey.floor"), step.version + "\r\n");
            continue;
        }
        for (const std::wstring& part : step.named)
            EXPECT_NE(box->text.find(part), std::wstring::npos) << Describe(*box);
        EXPECT_EQ(box->icon, BoxIcon::Error);
        EXPECT_EQ(Difference(before, TakePicture(directory)), "") << "nothing moves and the package stays";
    }
}

// The floor is part of the install's transaction: it rises only with a committed install. A run killed or failing
// at the commit record puts the old floor back (at the next click, or at once), and the package then installs.
TEST_F(SignedInstall, TheFloorRisesOnlyWithTheCommit)
{
    const TempDir traces;
    auto prepare = [&](ProgramDir& program) {
        program.CopyFromBin(L"UpdateWithFaults.exe");
        program.WriteFile(L"UpdateKey.pub", author.PublicKeyFile());
        program.WriteFile(L"UpdateKey.floor", "1.0\r\n");
        author.WriteSignedPackage(program, "2.0", kFiles);
    };
    unsigned commit = 0;
    {
        ProgramDir program;
        prepare(program);
        Updater app(program, L"UpdateWithFaults.exe", L"--trace=\"" + (traces / L"trace.txt") + L"\"");
        ExpectSucceeded(app);
        // The commit record is the last journal write before the package goes; the floor is on the disk before it.
        unsigned floorFlushed = 0;
        for (const std::string& operation : ReadTrace(traces / L"trace.txt")) {
            const auto is = [&](const char* kind) { return operation.find(kind) != std::string::npos; };
            if (is("\tdelete\t") && is("Quellis.sky")) break;
            const auto index = static_cast<unsigned>(std::stoul(operation));
            if (is("\twrite\t")) commit = index;
            if (is("\tflush\t") && operation.ends_with("\\UpdateKey.floor")) floorFlushed = index;
        }
        ASSERT_GT(floorFlushed, 0u);
        ASSERT_GT(commit, floorFlushed) << "the floor is on the disk before the commit record";
    }
    for (const std::wstring fault : {L"--kill-at=", L"--fail-at="}) {
        SCOPED_TRACE(Narrow(fault));
        const bool killed = fault == L"--kill-at=";
        ProgramDir program;
        prepare(program);
        const Picture before = TakePicture(program);
        {
            Updater app(program, L"UpdateWithFaults.exe", fault + std::to_wstring(commit));
            app.ClickStart();
            const auto box = app.NextBox();
            ASSERT_EQ(box.has_value(), killed == false);
            if (box) {
                EXPECT_NE(box->text.find(L"没有做任何更改"), std::wstring::npos) << Describe(*box);
                EXPECT_EQ(Difference(before, TakePicture(program)), "") << "the old floor is back";
            }
        }
        Updater app(program);
        app.ClickStart();
        auto box = app.NextBox();
        ASSERT_TRUE(box.has_value());
        if (killed) {
            EXPECT_EQ(box->text, L"上次的升级被中断，已撤销它所做的全部更改。") << Describe(*box);
            EXPECT_EQ(program.ReadFile(L"UpdateKey.floor"), "1.0\r\n");
            box->Dismiss();
            box = app.NextBox();
            ASSERT_TRUE(box.has_value());
        }
        EXPECT_EQ(box->text, L"升级成功!") << Describe(*box);
        EXPECT_EQ(program.ReadFile(L"UpdateKey.floor"), "2.0\r\n");
    }
}
