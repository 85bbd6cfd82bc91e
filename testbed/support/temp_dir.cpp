#include "testbed/support/temp_dir.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace tarn1::testing
{

Temp_dir::Temp_dir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tarn1-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr)
    {
        throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
    }
    m_path = buffer.data();
}

Temp_dir::~Temp_dir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::string Temp_dir::write_file(const std::string& name, const std::string& content) const
{
    std::string path = file(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out)
    {
        throw std::runtime_error("cannot write " + path);
    }
    return path;
}

std::string Temp_dir::read_file(const std::string& name) const
{
    std::ifstream in(file(name), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

} // namespace tarn1::testing
