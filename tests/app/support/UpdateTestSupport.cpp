#include "app/support/UpdateTestSupport.h"

#include "app/UUpdateQVWin.h"
#include "platform/Application.h"

#include <chrono>
#include <cstdio>
#include <thread>

std::string Buttons(const TUpdateQVWin& window)
{
    std::string state;
    for (const TViewButton* button : {window.ButtNext, window.ButtAbort, window.ButtExit, window.ButtUpdate})
        state += button->Enabled() ? '1' : '0';
    return state;
}

std::string PatternBytes(std::size_t count, int seed)
{
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251 + seed) & 0xFF);
    return bytes;
}

TCommandResult RunCommand(const std::string& command)
{
    TCommandResult result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return result;
    char buffer[4096];
    std::size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        result.Output.append(buffer, count);
    result.Status = ::pclose(pipe);
    return result;
}

bool ProcessUntil(const std::function<bool()>& done, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        ApplicationProcessMessages();
        // Polled: the workers' hand-overs wake nothing this loop waits on.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
