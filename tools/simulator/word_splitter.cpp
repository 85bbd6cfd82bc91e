#include "tools/simulator/word_splitter.hpp"

#include <algorithm>

namespace tarn1::simulator
{

Word_splitter::Word_splitter(std::vector<std::string> words)
    : m_words(std::move(words))
{
    // Longest first, so that "prepared4sd" is not read as something shorter.
    std::sort(m_words.begin(),
              m_words.end(),
              [](const std::string& left, const std::string& right) { return left.size() > right.size(); });
}

std::vector<std::string> Word_splitter::feed(const std::string& bytes)
{
    m_pending += bytes;
    std::vector<std::string> found;
    std::string unknown;
    std::size_t position = 0;
    while (position < m_pending.size())
    {
        const std::string rest = m_pending.substr(position);
        bool matched = false;
        bool prefix = false;
        for (const auto& word : m_words)
        {
            if (rest.compare(0, word.size(), word) == 0)
            {
                matched = true;
                if (!unknown.empty())
                {
                    found.push_back(unknown);
                    unknown.clear();
                }
                found.push_back(word);
                position += word.size();
                break;
            }
            if (word.compare(0, rest.size(), rest) == 0)
            {
                prefix = true;
            }
        }
        if (matched)
        {
            continue;
        }
        if (prefix)
        {
            break;
        }
        unknown += m_pending[position];
        ++position;
    }
    if (!unknown.empty())
    {
        found.push_back(unknown);
    }
    m_pending.erase(0, position);
    return found;
}

std::vector<std::string> status_words()
{
    return {
        "startingup", "running", "shuttingdown", "runnmcontrolled", "postrun", "preparing", "prepared4sd", "resuming"};
}

std::vector<std::string> command_words()
{
    return {"restartao", "restartm3", "cancel"};
}

} // namespace tarn1::simulator
