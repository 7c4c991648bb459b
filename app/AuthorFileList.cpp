#include "AuthorFileList.h"

#include <set>

#include "Notice.h"
#include "Paths.h"
#include "ProgramLayout.h"
#include "Sha256.h"
#include "SignatureTexts.h"
#include "XmlDocument.h"
#include "install/InstallLayout.h"
#include "install/SafeNames.h"
#include "zipcore/name_match.hpp"

namespace {

[[noreturn]] void Refuse(const std::string& text)
{
    throw ERefusal(ErrorNotice(text));
}

}  // namespace

FileList ReadFileList(TXMLDocument& xml, const std::string& programDir)
{
    try {
        xml.LoadFromFile(programDir + std::string(layout::kFileList));
        xml.SetActive(true);
    } catch (const Exception&) {
        // The document stays inactive; reading it below reports "No active document".
    }
    TXMLNode root = xml.DocumentElement();
    FileList list{root.ChildNodes("foreversion").Text(), root.ChildNodes("version").Text(), {}};
    TXMLNode items = root.ChildNodes("files");
    const int count = items.ChildCount();
    for (int i = 0; i < count; ++i) {
        TXMLNode item = items.Child(i);
        const std::string source = item.AttributeText("src");
        std::string fullPath = programDir;
        fullPath.append(layout::kAuthorFiles).append(source);  // one chain of + trips GCC 12's -Wrestrict
        list.files.push_back({source, fullPath, {ExtractFileName(fullPath), item.AttributeText("des")}});
    }
    return list;
}

void CheckFileList(const std::vector<SourceFile>& files, bool signing)
{
    // Names as the file system looks them up: equal keys, one file.
    const std::string descriptorName = zipcore::fileNameKey(layout::kBuiltDescriptor);
    std::set<std::string> names;
    for (const SourceFile& file : files) {
        if (!FileExists(file.fullPath)) Refuse("找不到要打包的文件：" + file.source);
        const std::string name = zipcore::fileNameKey(file.entry.name);
        if (name == descriptorName) Refuse("文件名与升级说明文件 Update.xml 重复，请改名：" + file.source);
        const std::string directory = NormalizeDirectory(file.entry.path);
        if (auto reserved = install_layout::ReservedByTheInstall(file.entry.name, directory, signing)) {
            Refuse("升级程序安装时会拒绝这个文件（" + *reserved + "），请改名或换一个目标目录：" + file.source);
        }
        if (!names.insert(name).second) Refuse("升级包中不能有两个同名的文件：" + file.entry.name);
        // The installer refuses such a destination; the author hears of it now rather than from every user.
        if (auto problem = DirectoryProblem(file.entry.path))
            Refuse("目标目录无效（" + file.source + "）：" + *problem);
    }
}

void AddDigests(std::vector<SourceFile>& files)
{
    for (SourceFile& file : files) {
        try {
            file.entry.sha256 = signing::Hex(signing::FileSha256(file.fullPath));
        } catch (const EFileOperationError& error) {
            Refuse("无法读取要打包的文件（" + signing_text::Unreadable(error) + "）：" + file.source);
        }
    }
}
