#include "app/support/UpdateTestSupport.h"

#include "app/UUpdateQVWin.h"
#include "platform/Application.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

TWebServer::TWebServer(const std::string& locations)
{
    m_Folder = MakeScratchFolder("app");
    std::filesystem::create_directories(m_Folder + "/www");
    std::filesystem::create_directories(m_Folder + "/tmp");
    m_Port = FreeLoopbackPort();
    const std::string& f = m_Folder;
    WriteTextFile(f + "/nginx.conf",
                  "worker_processes 1;\ndaemon off;\nmaster_process off;\nerror_log " + f + "/nginx.log;\npid " +
                      f + "/nginx.pid;\nevents { worker_connections 64; }\nhttp {\n"
                      "  log_format ranges '$request_uri|$http_range|$http_if_range|$status';\n"
                      "  access_log " + f + "/access.log ranges;\n"
                      "  client_body_temp_path " + f + "/tmp;\n  proxy_temp_path " + f + "/tmp;\n"
                      "  fastcgi_temp_path " + f + "/tmp;\n  uwsgi_temp_path " + f + "/tmp;\n"
                      "  scgi_temp_path " + f + "/tmp;\n  server {\n    listen 127.0.0.1:" +
                      std::to_string(m_Port) + ";\n    root " + f + "/www;\n" + locations + "  }\n}\n");
    if (!FindProgram("nginx").empty())
        m_Process = std::make_unique<TServerProcess>(
            std::vector<std::string>{"nginx", "-c", f + "/nginx.conf", "-p", f}, m_Port, f + "/nginx.out");
}

void TWebServer::Put(const std::string& path, const std::string& bytes) const
{
    const std::filesystem::path file = m_Folder + "/www/" + path;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

std::string TWebServer::AccessLog() const
{
    std::ifstream log(m_Folder + "/access.log");
    std::ostringstream lines;
    lines << log.rdbuf();
    return lines.str();
}

void TWebServer::Remove(const std::string& path) const
{
    std::filesystem::remove(m_Folder + "/www/" + path);
}

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
