// Helper program of the middleware tests: a client that opens raw connections to an endpoint of the
// test service, optionally under another user, and follows command lines on standard input.
//   com_raw_peer [--uid U]      (--uid: runs as user and group U; needs root)
// Commands and answers:
//   "connect PATH N"  opens N connections to PATH            -> "connected K" (K of them made)
//   "check"           one echo call on each open connection  -> "served S refused R"
//   "close"           closes them all                        -> "closed"
// Prints "ready" once running under the user asked for.
#include "platform/com/tests/raw_client.hpp"

#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    using namespace std::chrono_literals;
    if (argc == 3 && std::string(argv[1]) == "--uid")
    {
        const auto id = static_cast<uid_t>(std::stoul(argv[2]));
        if (::setresgid(id, id, id) != 0 || ::setresuid(id, id, id) != 0)
        {
            std::cerr << "com_raw_peer: cannot become uid " << id << "\n";
            return 1;
        }
    }
    std::cout << "ready" << std::endl;
    std::vector<std::unique_ptr<tarn1::testing::Raw_client>> clients;
    std::string line;
    while (std::getline(std::cin, line))
    {
        std::istringstream words(line);
        std::string command;
        words >> command;
        if (command == "connect")
        {
            std::string path;
            std::size_t count = 0;
            words >> path >> count;
            std::size_t made = 0;
            for (std::size_t i = 0; i < count; ++i)
            {
                try
                {
                    clients.push_back(std::make_unique<tarn1::testing::Raw_client>(path));
                    ++made;
                }
                catch (const std::exception& error)
                {
                    std::cerr << "com_raw_peer: " << error.what() << "\n";
                }
            }
            std::cout << "connected " << made << std::endl;
        }
        else if (command == "check")
        {
            std::size_t served = 0;
            std::size_t refused = 0;
            for (const auto& client : clients)
            {
                const bool sent = client->send_all(tarn1::testing::Raw_client::request(0, 1, {7}), 2s);
                const auto reply = sent ? client->read_frame(2s) : std::nullopt;
                (reply ? served : refused) += 1;
            }
            std::cout << "served " << served << " refused " << refused << std::endl;
        }
        else if (command == "close")
        {
            clients.clear();
            std::cout << "closed" << std::endl;
        }
    }
    return 0;
}
