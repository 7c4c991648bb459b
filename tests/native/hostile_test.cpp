// Every hostile archive of the corpus is refused: nothing outside the target, no partial file, and the existing
// "good.txt" intact (unless an earlier, sound entry of the same archive legitimately replaced it first).
#include <gtest/gtest.h>

#include "hostile_corpus.hpp"
#include "test_support.hpp"
#include "zipcore/error.hpp"
#include "zipcore/extract.hpp"
#include "zipcore/zip_reader.hpp"

namespace {

using namespace ziptest;

TEST(HostileArchives, AreRefusedWithoutHarm)
{
    for (const HostileArchive& archive : hostileArchives()) {
        SCOPED_TRACE(archive.label);
        TempDir input, sandbox;
        writeFile(input / "hostile.zip", archive.bytes);
        const fs::path target = sandbox.path() / "target";
        fs::create_directories(target);
        writeFile(target / kGoodName, kGoodContent);

        std::string message;
        zipcore::ErrorKind kind = zipcore::ErrorKind::Usage;
        try {
            zipcore::extractFlat(zipcore::ZipReader::open(input / "hostile.zip"), target.string());
            ADD_FAILURE() << "extracted";
        } catch (const zipcore::Error& error) {
            message = error.what();
            kind = error.kind();
        }
        EXPECT_FALSE(message.empty());
        switch (archive.refusal) {
        case Refusal::NotAnArchive:
            EXPECT_EQ(kind, zipcore::ErrorKind::NotZip) << message;
            break;
        case Refusal::BeforeWriting:
            EXPECT_TRUE(kind == zipcore::ErrorKind::Unsafe || kind == zipcore::ErrorKind::Corrupt) << message;
            break;
        case Refusal::WhileWriting:
            EXPECT_EQ(kind, zipcore::ErrorKind::Corrupt) << message;
            break;
        }
        const std::vector<std::string> tree = treeOf(sandbox.path());
        if (archive.refusal == Refusal::WhileWriting && tree.size() == 3) {
            EXPECT_EQ(tree, (std::vector<std::string>{"target", "target/first.txt", "target/good.txt"}));
        } else {
            EXPECT_EQ(tree, (std::vector<std::string>{"target", "target/good.txt"}));
        }
        EXPECT_EQ(readFile(target / kGoodName), kGoodContent);
        EXPECT_EQ(treeOf(input.path()), std::vector<std::string>{"hostile.zip"});
        for (const char* place : {"/tmp", "/"}) EXPECT_FALSE(fs::exists(fs::path(place) / kEvilName));
    }
}

TEST(HostileArchives, CanStillBeListedAndTestedWhereTheLayoutIsSound)
{
    // Listing shows what a hostile package holds; only writing it out is refused.
    TempDir dir;
    writeFile(dir / "a.zip", hostileArchives().front().bytes);
    const zipcore::ZipReader reader = zipcore::ZipReader::open(dir / "a.zip");
    ASSERT_EQ(reader.entries().size(), 2u);
    EXPECT_EQ(reader.entries()[1].name, std::string("../") + kEvilName);
    EXPECT_EQ(zipcore::testEntries(reader), 2u);
}

}  // namespace
