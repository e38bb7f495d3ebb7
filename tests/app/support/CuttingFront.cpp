// Linux only: the front reaches nginx, which only Linux runs here.
#ifndef _WIN32
#include "app/support/CuttingFront.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace {

// The whole answer of 127.0.0.1:port to `request`, up to its close.
std::string Fetch(int port, const std::string& request)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        char buffer[65536];
        for (ssize_t count; (count = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
            answer.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(fd);
    return answer;
}

}  // namespace

TCuttingFront::TCuttingFront(int webPort, std::string path, std::vector<std::size_t> cuts)
    : m_WebPort(webPort), m_Path(std::move(path)), m_Cuts(std::move(cuts)),
      m_Server([this](TServerConnection& connection) { Serve(connection); })
{
}

void TCuttingFront::Serve(TServerConnection& connection)
{
    std::string request = connection.ReadHeader();
    // One answer per connection, ended by nginx's close.
    const std::size_t keepAlive = request.find("Connection: Keep-Alive");
    if (keepAlive != std::string::npos)
        request.replace(keepAlive, 22, "Connection: close");
    const std::string answer = Fetch(m_WebPort, request);
    if (request.find("GET " + m_Path + " ") != 0 || m_Answered >= static_cast<int>(m_Cuts.size())) {
        connection.Write(answer);
        return;
    }
    const std::size_t bodyAt = answer.find("\r\n\r\n") + 4;
    const std::size_t rangeAt = answer.find("Content-Range: bytes ");
    const std::size_t first = rangeAt < bodyAt ? std::stoul(answer.substr(rangeAt + 21)) : 0;
    connection.Write(answer.substr(0, bodyAt + m_Cuts[m_Answered++] - first));
}
#endif  // _WIN32
