// The update descriptor as the package build writes it and the install flow reads it, through the real MSXML.
#include <gtest/gtest.h>

#include "Driver.h"
#include "Errors.h"
#include "Text.h"
#include "UpdateDescriptor.h"

// Found by argument-dependent lookup, so it lives beside PackageFile in the global namespace.
void PrintTo(const PackageFile& file, std::ostream* out)
{
    *out << "{" << file.name << ", " << file.path << ", " << file.sha256.value_or("(no sha256)") << "}";
}

namespace {

class UpdateDescriptorTest : public ::testing::Test {
protected:
    driver::TempDir dir;
    TXMLDocument xml;

    std::string PathOf(const std::wstring& relative) const { return Narrow(dir / relative); }

    std::vector<PackageFile> ReadAll(DescriptorReader& reader) const
    {
        std::vector<PackageFile> files;
        for (int i = 0, count = reader.FileCount(); i < count; ++i) files.push_back(reader.File(i));
        return files;
    }
};

}  // namespace

TEST_F(UpdateDescriptorTest, TheComposedTextHasTheAgreedLinesAndLineEnds)
{
    EXPECT_EQ(ComposeDescriptor("1.0.3", {{"a.dll", "Data\\"}, {"b.exe", ""}}),
              "<update>\n\r"
              "  <version>1.0.3</version>\n\r"
              "  <files>\n\r"
              "   <file name=\"a.dll\" path=\"Data\\\"/>\n\r"
              "   <file name=\"b.exe\" path=\"\"/>\n\r"
              "  </files>\n\r"
              "</update>");
    EXPECT_EQ(ComposeDescriptor("2", {}), "<update>\n\r  <version>2</version>\n\r  <files>\n\r  </files>\n\r</update>");
    // A signed build's entries carry the payload's digest after the path; unsigned ones stay as they were.
    EXPECT_EQ(ComposeDescriptor("3", {{"a.dll", "", "00ff"}, {"b.exe", ""}}),
              "<update>\n\r"
              "  <version>3</version>\n\r"
              "  <files>\n\r"
              "   <file name=\"a.dll\" path=\"\" sha256=\"00ff\"/>\n\r"
              "   <file name=\"b.exe\" path=\"\"/>\n\r"
              "  </files>\n\r"
              "</update>");
}

TEST_F(UpdateDescriptorTest, AnyNamePathAndVersionRoundTripsThroughSaveLoadAndRead)
{
    const std::vector<std::vector<PackageFile>> lists = {
        {},
        {{"R&D.doc", "Data\\"}},
        {
            {"a<b>.txt", ""},
            {"say \"hi\" & it's.dll", "Skins\\Blue\\"},
            {"with  two spaces.exe", "Program Files\\x\\"},
            {"中文名.txt", "数据\\文档 & <备份>\\"},
            {"x'y\"z<&>.bin", "\"quoted\"\\"},
            {"plain.dat", ""},
        },
        {
            {"signed.dll", "Bin\\", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
            {"unsigned.txt", ""},
        },
    };
    const std::string version = "1.0.3 <beta> & \"中文\"";

    for (const auto& files : lists) {
        SCOPED_TRACE(files.size());
        // As in the build: the document held the author's list before it takes the descriptor.
        dir.WriteFile(L"Files.xml", "<list><version>other</version></list>");
        xml.LoadFromFile(PathOf(L"Files.xml"));
        SaveDescriptor(xml, ComposeDescriptor(version, files), PathOf(L"Update.xml"));

        const std::string saved = dir.ReadFile(L"Update.xml");
        EXPECT_EQ(saved.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u) << saved;

        // As in the install: a fresh load, under the name the installer looks for (names ignore case).
        TXMLDocument installer;
        installer.LoadFromFile(PathOf(L"update.xml"));
        DescriptorReader reader(installer);
        EXPECT_EQ(reader.Version(), version);
        EXPECT_EQ(ReadAll(reader), files);
    }
}

TEST_F(UpdateDescriptorTest, ADescriptorWithoutVersionOrFilesReadsAsEmpty)
{
    dir.WriteFile(L"update.xml", "<update/>");
    xml.LoadFromFile(PathOf(L"update.xml"));
    DescriptorReader reader(xml);
    EXPECT_EQ(reader.Version(), "");
    EXPECT_EQ(reader.FileCount(), 0);
}

TEST_F(UpdateDescriptorTest, EntriesAreReadByPositionAndAMissingAttributeFailsAtThatEntry)
{
    dir.WriteFile(L"update.xml", "<update>\n  <files>\n    <!-- first -->\n    <file name=\"a.dll\" path=\"\"/>\n"
                                 "    <entry path=\"Data\\\" name=\"b.dll\"/>\n    <file name=\"c.dll\"/>\n  </files>\n"
                                 "  <version>3</version>\n</update>");
    xml.LoadFromFile(PathOf(L"update.xml"));
    DescriptorReader reader(xml);

    EXPECT_EQ(reader.Version(), "3");
    ASSERT_EQ(reader.FileCount(), 3);
    EXPECT_EQ(reader.File(0), (PackageFile{"a.dll", ""}));
    EXPECT_EQ(reader.File(1), (PackageFile{"b.dll", "Data\\"}));  // any element name, any attribute order
    EXPECT_THROW(reader.File(2), EVariantTypeCastError);
}

TEST_F(UpdateDescriptorTest, AnOlderGbkDescriptorReads)
{
    // <file name="中文.txt" path="数据\"/> in GBK: 中文 D6D0 CEC4, 数据 CAFD BEDD.
    dir.WriteFile(
        L"update.xml",
        "<?xml version=\"1.0\" encoding=\"GBK\"?>\r\n<update>\r\n  <version>1.2</version>\r\n  <files>\r\n"
        "   <file name=\"\xD6\xD0\xCE\xC4.txt\" path=\"\xCA\xFD\xBE\xDD\\\"/>\r\n  </files>\r\n</update>\r\n");
    xml.LoadFromFile(PathOf(L"update.xml"));
    DescriptorReader reader(xml);
    EXPECT_EQ(reader.Version(), "1.2");
    ASSERT_EQ(reader.FileCount(), 1);
    EXPECT_EQ(reader.File(0), (PackageFile{"中文.txt", "数据\\"}));
}

TEST_F(UpdateDescriptorTest, ATextTheParserRefusesIsNotSaved)
{
    EXPECT_THROW(SaveDescriptor(xml, "<update><files></update>", PathOf(L"Update.xml")), EDOMParseError);
    EXPECT_FALSE(xml.Active());
    EXPECT_FALSE(dir.Exists(L"Update.xml"));
}
