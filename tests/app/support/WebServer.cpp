// Linux only: nginx runs as a program of the Linux machines.
#ifndef _WIN32
#include "app/support/UpdateTestSupport.h"

#include <filesystem>
#include <fstream>
#include <sstream>

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
#endif  // _WIN32
