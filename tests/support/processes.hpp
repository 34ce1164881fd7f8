#pragma once

#include <sys/types.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

namespace tintora::test {

// Whether a process has ended within two seconds: it is not there, or it is
// a zombie that nobody here reaps.
inline bool process_gone(pid_t pid) {
    for (int tries = 0; tries < 200; ++tries) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        if (!std::getline(stat, line)) return true;
        const std::size_t close = line.rfind(") ");
        if (close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z') {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace tintora::test
