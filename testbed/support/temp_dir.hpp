#pragma once

#include <string>

namespace tarn1::testing
{

/// A fresh directory under $TMPDIR (or /tmp), removed with everything in it on destruction.
class Temp_dir final
{
  public:
    Temp_dir();
    ~Temp_dir();

    Temp_dir(const Temp_dir&) = delete;
    Temp_dir& operator=(const Temp_dir&) = delete;

    const std::string& path() const noexcept { return m_path; }
    /// path() + "/" + name
    std::string file(const std::string& name) const { return m_path + "/" + name; }
    /// Writes content to file(name), replacing it; returns the full path.
    std::string write_file(const std::string& name, const std::string& content) const;
    /// The whole content of file(name); empty if it cannot be read.
    std::string read_file(const std::string& name) const;

  private:
    std::string m_path;
};

} // namespace tarn1::testing
