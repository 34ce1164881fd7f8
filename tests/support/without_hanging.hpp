#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>

namespace tintora::test {

// The call's result; a call still blocked after five seconds ends the test
// program with a message instead of hanging it.
template <class Call>
auto without_hanging(Call call) {
    auto result = std::async(std::launch::async, call);
    if (result.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        std::fputs("The call is still blocked after 5 s.\n", stderr);
        std::_Exit(EXIT_FAILURE);
    }
    return result.get();
}

}  // namespace tintora::test
