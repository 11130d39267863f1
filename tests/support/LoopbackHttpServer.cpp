#include "LoopbackHttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace velmora::test {

ScriptedReply ScriptedReply::Body(std::string body, int status) {
    ScriptedReply reply;
    reply.status = status;
    reply.reason = status == 200 ? "OK" : status == 404 ? "Not Found" : "Status";
    reply.pieces.push_back(std::move(body));
    return reply;
}

ScriptedReply ScriptedReply::Redirect(int status, std::string location) {
    ScriptedReply reply = Body("moved", status);
    reply.reason = "Moved";
    reply.headers.emplace_back("Location", std::move(location));
    return reply;
}

ScriptedReply ScriptedReply::Pieces(std::vector<std::string> pieces, int delayMs) {
    ScriptedReply reply;
    reply.pieces = std::move(pieces);
    reply.pieceDelayMs = delayMs;
    return reply;
}

std::string RecordedRequest::Header(const std::string& name) const {
    for (const std::string& line : headerLines) {
        size_t colon = line.find(':');
        if (colon == name.size() && strncasecmp(line.c_str(), name.c_str(), colon) == 0) {
            size_t start = line.find_first_not_of(" \t", colon + 1);
            return start == std::string::npos ? "" : line.substr(start);
        }
    }
    return "";
}

LoopbackHttpServer::LoopbackHttpServer(const std::string& host, int port) : host_(host) {
    fallback_ = ScriptedReply::Body("not found", 404);
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        throw std::runtime_error("socket failed");
    int yes = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1 ||
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 64) != 0) {
        close(listener_);
        throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(port));
    }
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    int wake[2];
    if (pipe2(wake, O_CLOEXEC) != 0) {
        close(listener_);
        throw std::runtime_error("pipe failed");
    }
    wakeRead_ = wake[0];
    wakeWrite_ = wake[1];
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
        for (int client : clients_)
            shutdown(client, SHUT_RDWR);
    }
    stopped_.notify_all();
    char byte = 1;
    (void)!write(wakeWrite_, &byte, 1);
    acceptor_.join();
    for (std::thread& worker : workers_)
        worker.join();
    close(listener_);
    close(wakeRead_);
    close(wakeWrite_);
}

std::string LoopbackHttpServer::Url(const std::string& target) const {
    return "http://" + host_ + ":" + std::to_string(port_) + target;
}

void LoopbackHttpServer::Route(const std::string& target, ScriptedReply reply) {
    std::lock_guard<std::mutex> guard(lock_);
    routes_[target] = std::move(reply);
}

void LoopbackHttpServer::SetFallback(ScriptedReply reply) {
    std::lock_guard<std::mutex> guard(lock_);
    fallback_ = std::move(reply);
}

std::vector<RecordedRequest> LoopbackHttpServer::Requests() const {
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
}

void LoopbackHttpServer::AcceptLoop() {
    while (!stopping_) {
        pollfd fds[2] = {{listener_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents || stopping_)
            break;
        int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        std::lock_guard<std::mutex> guard(lock_);
        if (stopping_) {
            close(client);
            break;
        }
        ++connections_;
        clients_.push_back(client);
        workers_.emplace_back([this, client] { Serve(client); });
    }
}

bool LoopbackHttpServer::Pause(int ms) {
    std::unique_lock<std::mutex> guard(lock_);
    return !stopped_.wait_for(guard, std::chrono::milliseconds(ms),
                              [this] { return stopping_.load(); });
}

bool LoopbackHttpServer::SendAll(int client, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = send(client, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

void LoopbackHttpServer::Serve(int client) {
    std::string received;
    char chunk[4096];
    while (received.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = recv(client, chunk, sizeof chunk, 0);
        if (n <= 0)
            break;
        received.append(chunk, static_cast<size_t>(n));
    }
    RecordedRequest request;
    size_t lineEnd = received.find("\r\n");
    std::string requestLine = received.substr(0, lineEnd);
    size_t space = requestLine.find(' ');
    size_t secondSpace = requestLine.find(' ', space + 1);
    if (space != std::string::npos) {
        request.method = requestLine.substr(0, space);
        request.target = requestLine.substr(space + 1, secondSpace - space - 1);
    }
    for (size_t start = lineEnd + 2; lineEnd != std::string::npos && start < received.size();) {
        size_t end = received.find("\r\n", start);
        if (end == std::string::npos || end == start)
            break;
        request.headerLines.push_back(received.substr(start, end - start));
        start = end + 2;
    }

    ScriptedReply reply;
    {
        std::lock_guard<std::mutex> guard(lock_);
        requests_.push_back(request);
        auto found = routes_.find(request.target);
        reply = found == routes_.end() ? fallback_ : found->second;
    }

    if (reply.action == ScriptedReply::Action::NeverAnswer) {
        while (Pause(1000)) {
        }
    } else if (reply.action == ScriptedReply::Action::Respond) {
        std::string body;
        for (const std::string& piece : reply.pieces)
            body += piece;
        std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " + reply.reason + "\r\n";
        for (const auto& header : reply.headers)
            head += header.first + ": " + header.second + "\r\n";
        if (reply.sendContentLength)
            head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
        head += reply.keepAlive ? "\r\n" : "Connection: close\r\n\r\n";
        bool open = reply.answerDelayMs <= 0 || Pause(reply.answerDelayMs);
        for (size_t start = 0; open && start < head.size();) {
            size_t end = reply.headLineDelayMs > 0 ? head.find("\r\n", start) + 2 : head.size();
            if (start > 0)
                open = Pause(reply.headLineDelayMs);
            open = open && SendAll(client, head.substr(start, end - start));
            start = end;
        }
        size_t budget =
            reply.closeAfterBytes < 0 ? body.size() : static_cast<size_t>(reply.closeAfterBytes);
        for (size_t i = 0; open && i < reply.pieces.size() && budget > 0; ++i) {
            if ((i > 0 || reply.delayFirstPiece) && reply.pieceDelayMs > 0)
                open = Pause(reply.pieceDelayMs);
            std::string piece = reply.pieces[i].substr(0, budget);
            budget -= piece.size();
            open = open && SendAll(client, piece);
        }
    }
    std::lock_guard<std::mutex> guard(lock_);
    shutdown(client, SHUT_RDWR);
    close(client);
    for (auto it = clients_.begin(); it != clients_.end(); ++it) {
        if (*it == client) {
            clients_.erase(it);
            break;
        }
    }
}

} // namespace velmora::test
