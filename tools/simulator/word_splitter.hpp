#pragma once

#include <string>
#include <vector>

namespace tarn1::simulator
{

/// Splits the bytes of a control file into the words the daemon wrote. The daemon writes one word
/// per write with nothing between them, so on an ordinary file they run together
/// ("runningpostrun"); the splitter knows the possible words and takes the longest that fits.
/// Bytes that start no known word are passed on as they are; an incomplete word at the end waits
/// for the next call.
class Word_splitter final
{
  public:
    explicit Word_splitter(std::vector<std::string> words);

    /// Feeds newly appended bytes; returns the words they complete, in order.
    std::vector<std::string> feed(const std::string& bytes);

  private:
    std::vector<std::string> m_words;
    std::string m_pending;
};

/// The status words of the VM status file.
std::vector<std::string> status_words();
/// The command words of the restart command file.
std::vector<std::string> command_words();

} // namespace tarn1::simulator
