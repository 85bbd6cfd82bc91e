#include "tools/com_tool/com_tool.hpp"

#include <iostream>

int main(int argc, char** argv)
{
    return tarn1::com_tool::run(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
