#include "test_support.hpp"

#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace ziptest {

TempDir::TempDir()
{
    std::string pattern = (fs::temp_directory_path() / "zipcore-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary directory");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

void writeFile(const fs::path& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<std::string> treeOf(const fs::path& root)
{
    std::vector<std::string> entries;
    for (const auto& item : fs::recursive_directory_iterator(root))
        entries.push_back(fs::relative(item.path(), root).string());
    std::sort(entries.begin(), entries.end());
    return entries;
}

CommandResult run(const std::string& commandLine)
{
    const std::string full = "LC_ALL=C.UTF-8 " + commandLine + " 2>&1";
    FILE* pipe = popen(full.c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot run " + commandLine);
    std::string output;
    std::array<char, 4096> buffer;
    while (const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), pipe)) output.append(buffer.data(), got);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

std::string quote(const std::string& argument)
{
    std::string quoted = "'";
    for (const char c : argument) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace ziptest
