// The XML document over the real MSXML 6 (Wine's, here): the results the flows rely on.
#include <gtest/gtest.h>

#include "Driver.h"
#include "Errors.h"
#include "Text.h"
#include "XmlDocument.h"

namespace {

class XmlDocumentTest : public ::testing::Test {
protected:
    driver::TempDir dir;
    TXMLDocument xml;

    std::string PathOf(const std::wstring& relative) const { return Narrow(dir / relative); }
    std::string Write(const std::wstring& relative, const std::string& bytes) const
    {
        dir.WriteFile(relative, bytes);
        return PathOf(relative);
    }
    void LoadText(const std::string& text)
    {
        xml.SetXMLText(text);
        xml.SetActive(true);
    }
};

void ExpectNoActiveDocument(const TXMLDocument& xml)
{
    EXPECT_FALSE(xml.Active());
    try {
        xml.DocumentElement();
        FAIL() << "no error raised";
    } catch (const EXMLDocError& error) {
        EXPECT_STREQ(error.what(), "No active document");
    }
}

}  // namespace

TEST_F(XmlDocumentTest, AnInactiveDocumentRaisesNoActiveDocument)
{
    ExpectNoActiveDocument(xml);
    EXPECT_THROW(xml.SaveToFile(PathOf(L"out.xml")), EXMLDocError);
    EXPECT_FALSE(dir.Exists(L"out.xml"));

    LoadText("<update/>");
    ASSERT_EQ(xml.DocumentElement().NodeName(), "update");
    xml.SetActive(false);
    ExpectNoActiveDocument(xml);
}

TEST_F(XmlDocumentTest, MissingElementsReadEmptyAndAreCreatedInPlace)
{
    LoadText("<update>\n  <files/>\n</update>");
    TXMLNode root = xml.DocumentElement();

    EXPECT_EQ(root.ChildNodes("version").Text(), "");
    ASSERT_EQ(root.ChildCount(), 2);  // the missing version was appended after files
    EXPECT_EQ(root.Child(1).NodeName(), "version");
    EXPECT_EQ(root.ChildNodes("version").Text(), "");  // and now holds an empty text node, read alike

    EXPECT_EQ(root.ChildNodes("files").ChildCount(), 0);
    EXPECT_EQ(root.ChildNodes("nothing").ChildCount(), 0);
    EXPECT_EQ(root.ChildCount(), 3);

    // The created elements are part of the document: they are saved with it.
    xml.SaveToFile(PathOf(L"saved.xml"));
    const std::string saved = dir.ReadFile(L"saved.xml");
    EXPECT_NE(saved.find("<version"), std::string::npos) << saved;
    EXPECT_NE(saved.find("<nothing"), std::string::npos) << saved;
}

TEST_F(XmlDocumentTest, ChildrenAreElementsInDocumentOrderAndByNameTheFirstMatch)
{
    LoadText("<r>\n\r  <!-- a comment -->\n  <a n=\"1\"/> stray text <b/>\n\t<a n=\"2\"/><?pi data?>\n</r>");
    TXMLNode root = xml.DocumentElement();

    ASSERT_EQ(root.ChildCount(), 3);
    EXPECT_EQ(root.Child(0).AttributeText("n"), "1");
    EXPECT_EQ(root.Child(1).NodeName(), "b");
    EXPECT_EQ(root.Child(2).AttributeText("n"), "2");
    EXPECT_EQ(root.ChildNodes("a").AttributeText("n"), "1");
    EXPECT_THROW(root.Child(3), Exception);
    EXPECT_THROW(root.Child(-1), Exception);
}

TEST_F(XmlDocumentTest, TextIsTheSingleTextNodeAndAnythingElseRaises)
{
    LoadText("<r><plain> 1.0 &amp; &lt;2&gt; 中文 </plain><cdata><![CDATA[<raw>]]></cdata>"
             "<nested><v>1</v></nested><mixed>a<i/>b</mixed></r>");
    TXMLNode root = xml.DocumentElement();

    EXPECT_EQ(root.ChildNodes("plain").Text(), " 1.0 & <2> 中文 ");  // surrounding spaces kept
    EXPECT_EQ(root.ChildNodes("cdata").Text(), "<raw>");
    for (const char* name : {"nested", "mixed"}) {
        try {
            root.ChildNodes(name).Text();
            ADD_FAILURE() << name << ": no error raised";
        } catch (const EXMLDocError& error) {
            EXPECT_EQ(std::string(error.what()),
                      "Element \"" + std::string(name) + "\" does not contain a single text node");
        }
    }
}

TEST_F(XmlDocumentTest, AMissingAttributeIsNullAndRaisesWhenReadAsText)
{
    LoadText("<r><file name=\"R&amp;D &quot;x&quot; 中文.doc\" path=\"\"/></r>");
    const TXMLNode file = xml.DocumentElement().Child(0);

    EXPECT_EQ(file.AttributeText("name"), "R&D \"x\" 中文.doc");
    EXPECT_EQ(file.Attribute("path"), std::optional<std::string>(""));  // present but empty is not missing
    EXPECT_FALSE(file.Attribute("des").has_value());
    EXPECT_EQ(file.Attribute("des"), std::nullopt);
    try {
        file.AttributeText("des");
        FAIL() << "no error raised";
    } catch (const EVariantTypeCastError& error) {
        EXPECT_STREQ(error.what(), "Could not convert variant of type (Null) into type (String)");
    }
}

TEST_F(XmlDocumentTest, AMissingOrMalformedFileRaisesAndLeavesTheDocumentInactive)
{
    const std::string good = Write(L"good.xml", "<update><version>1</version></update>");
    const std::string malformed = Write(L"bad.xml", "<update>\n  <version>1</update>\n");
    const std::string missing = PathOf(L"missing.xml");

    xml.LoadFromFile(good);
    try {
        xml.LoadFromFile(missing);
        FAIL() << "no error raised";
    } catch (const Exception& error) {
        EXPECT_NE(std::string(error.what()).find(missing), std::string::npos) << error.what();
    }
    ExpectNoActiveDocument(xml);

    xml.LoadFromFile(good);
    try {
        xml.LoadFromFile(malformed);
        FAIL() << "no error raised";
    } catch (const EDOMParseError& error) {
        // The parser's own reason follows the file's name. Its wording and line differ between Windows and
        // Wine (which says only "error", line 0), so only the shape is checked.
        EXPECT_EQ(std::string(error.what()).rfind("Cannot load \"" + malformed + "\": ", 0), 0u) << error.what();
        EXPECT_FALSE(error.Reason().empty());
    }
    ExpectNoActiveDocument(xml);
    EXPECT_THROW(xml.SetActive(true), EDOMParseError);  // reactivation reloads the same malformed file
    EXPECT_FALSE(xml.Active());
}

TEST_F(XmlDocumentTest, ADocumentTypeDeclarationIsRefusedInEveryEncodingBeforeParsing)
{
    const std::string entities = "<!DOCTYPE update [<!ENTITY up \"..\\..\\\">]>";
    const std::string body = "<update><files><file name=\"a.dll\" path=\"&up;\"/></files></update>";
    std::string utf16 = "\xFF\xFE";
    for (char c : "<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + entities + body) utf16 += {c, '\0'};
    const struct {
        const wchar_t* file;
        std::string bytes;
    } cases[] = {
        {L"entities.xml", entities + body},
        {L"declared.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE update SYSTEM \"x.dtd\">" + body},
        {L"gbk.xml", "<?xml version=\"1.0\" encoding=\"GBK\"?><!doctype update>" + body},
        {L"utf16.xml", utf16},
    };
    for (const auto& c : cases) {
        const std::string path = Write(c.file, c.bytes);
        try {
            xml.LoadFromFile(path);
            ADD_FAILURE() << "loaded " << path;
        } catch (const EDOMParseError& error) {
            EXPECT_STREQ(
                error.what(),
                ("Cannot load \"" + path + "\": a document type declaration (<!DOCTYPE>) is not allowed").c_str());
        }
        ExpectNoActiveDocument(xml);
        EXPECT_THROW(xml.LoadFromBytes(c.bytes, path), EDOMParseError) << path;
        ExpectNoActiveDocument(xml);
    }
    xml.SetXMLText(entities + body);
    EXPECT_THROW(xml.SetActive(true), EDOMParseError);
}

// Bytes read once by a caller (to check them) parse as their file would, in whatever encoding it declares, and
// stay the document's source: the file changing afterwards changes nothing.
TEST_F(XmlDocumentTest, BytesLoadAsTheirFileWouldAndStayTheSource)
{
    std::string utf16 = "\xFF\xFE";
    for (const char c :
         std::string("<?xml version=\"1.0\" encoding=\"UTF-16\"?><update><version>v</version></update>")) {
        utf16 += {c, '\0'};
    }
    const struct {
        const wchar_t* file;
        std::string bytes;
        std::string version;
    } cases[] = {
        {L"utf8.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><update><version>版本 2</version></update>", "版本 2"},
        {L"gbk.xml", "<?xml version=\"1.0\" encoding=\"GBK\"?><update><version>\xB0\xE6\xB1\xBE</version></update>",
         "版本"},
        {L"utf16.xml", utf16, "v"},
    };
    for (const auto& c : cases) {
        const std::string path = Write(c.file, c.bytes);
        xml.LoadFromFile(path);
        EXPECT_EQ(xml.DocumentElement().ChildNodes("version").Text(), c.version) << path;
        xml.LoadFromBytes(c.bytes, path);
        EXPECT_EQ(xml.DocumentElement().ChildNodes("version").Text(), c.version) << path;
        Write(c.file, "<update><version>changed</version></update>");
        xml.SetActive(false);
        xml.SetActive(true);
        EXPECT_EQ(xml.DocumentElement().ChildNodes("version").Text(), c.version) << path;
    }
    try {
        xml.LoadFromBytes("<update><version>1</update>", "C:\\update.xml");
        ADD_FAILURE() << "malformed bytes loaded";
    } catch (const EDOMParseError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("Cannot load \"C:\\update.xml\": ", 0), 0u) << error.what();
    }
    ExpectNoActiveDocument(xml);
}

TEST_F(XmlDocumentTest, ActivationParsesTheHeldTextOrElseReloadsTheLastFile)
{
    const std::string file = Write(L"list.xml", "<list><version>from file</version></list>");

    // Text replaced while inactive is parsed on activation; an active document stays as it is.
    LoadText("<update><version>first</version></update>");
    xml.SetXMLText("<update><version>second</version></update>");
    xml.SetActive(true);
    EXPECT_EQ(xml.DocumentElement().ChildNodes("version").Text(), "first");
    xml.SetActive(false);
    xml.SetActive(true);
    EXPECT_EQ(xml.DocumentElement().ChildNodes("version").Text(), "second");

    // Loading a file discards the held text; reactivation then reads the file again, as it is now.
    xml.LoadFromFile(file);
    EXPECT_EQ(xml.DocumentElement().NodeName(), "list");
    Write(L"list.xml", "<list><version>changed</version></list>");
    xml.SetActive(false);
    xml.SetActive(true);
    EXPECT_EQ(xml.DocumentElement().ChildNodes("version").Text(), "changed");

    // Malformed text raises on activation and leaves the document inactive.
    xml.SetActive(false);
    xml.SetXMLText("<update><version>1</update>");
    EXPECT_THROW(xml.SetActive(true), EDOMParseError);
    ExpectNoActiveDocument(xml);
}

TEST_F(XmlDocumentTest, SavingReplacesTheFileAndReloadsToTheSameValues)
{
    // A directory name with '#' and Chinese characters: the file is opened by us, not read as a URL.
    const std::string path = Write(L"目录 #1\\saved.xml", std::string(4096, 'x'));
    LoadText(
        "<update><version>2.0 中文</version><files><file name=\"a &amp; b.txt\" path=\"数据\\\"/></files></update>");
    xml.SaveToFile(path);

    const std::string saved = dir.ReadFile(L"目录 #1\\saved.xml");
    EXPECT_EQ(saved.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u) << saved;
    EXPECT_EQ(saved.find('x', saved.find("</update>")), std::string::npos) << "the old content is left over";
    EXPECT_NE(saved.find("中文"), std::string::npos) << "not written as UTF-8: " << saved;

    TXMLDocument reloaded;
    reloaded.LoadFromFile(path);
    TXMLNode root = reloaded.DocumentElement();
    EXPECT_EQ(root.ChildNodes("version").Text(), "2.0 中文");
    EXPECT_EQ(root.ChildNodes("files").Child(0).AttributeText("name"), "a & b.txt");
    EXPECT_EQ(root.ChildNodes("files").Child(0).AttributeText("path"), "数据\\");

    // Saving again does not add a second declaration.
    reloaded.SaveToFile(path);
    const std::string again = dir.ReadFile(L"目录 #1\\saved.xml");
    EXPECT_EQ(again.find("<?xml", 1), std::string::npos) << again;
}

TEST_F(XmlDocumentTest, AFileThatDeclaresGbkIsReadAndSavedAsUtf8)
{
    // 中文 in GBK is D6 D0 CE C4.
    const std::string path = Write(
        L"gbk.xml", "<?xml version=\"1.0\" encoding=\"GBK\"?>\r\n<update><version>\xD6\xD0\xCE\xC4</version></update>");
    xml.LoadFromFile(path);
    EXPECT_EQ(xml.DocumentElement().ChildNodes("version").Text(), "中文");

    // Wine's MSXML writes UTF-8 under any declaration, so the declaration is made to say so.
    xml.SaveToFile(path);
    const std::string saved = dir.ReadFile(L"gbk.xml");
    EXPECT_EQ(saved.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u) << saved;
    EXPECT_EQ(saved.find("<?xml", 1), std::string::npos) << saved;
    xml.LoadFromFile(path);
    EXPECT_EQ(xml.DocumentElement().ChildNodes("version").Text(), "中文");
}
