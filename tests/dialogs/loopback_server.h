// A tiny HTTP server (or proxy) on 127.0.0.1 for the update-check tests: answers every request
// with one fixed response, sent at once or one byte at a time, or never answers at all. Started
// by the constructor, stopped by the destructor.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LoopbackServer {
 public:
  // `response` is sent as it is (status line, headers, body); an empty one means "never answer".
  // With a `drip` period the response goes out one byte per period.
  explicit LoopbackServer(std::string response,
                          std::chrono::milliseconds drip = std::chrono::milliseconds(0))
      : response_(std::move(response)), drip_(drip) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }

  ~LoopbackServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    for (int fd : held_) ::close(fd);
    if (listener_ >= 0) ::close(listener_);
  }

  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  std::string url(const std::string& path = "/version.txt") const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  bool running() const { return port_ != 0; }
  int requests() const { return requests_; }
  std::string lastRequest() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastRequest_;
  }

  static std::string answer(int status, const std::string& body) {
    return "HTTP/1.1 " + std::to_string(status) + " Status\r\nContent-Type: text/plain\r\n" +
           "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
           body;
  }

 private:
  void serve() {
    while (!stop_) {
      pollfd ready{listener_, POLLIN, 0};
      if (::poll(&ready, 1, 20) <= 0) continue;
      const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      std::string request = readRequest(client);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        lastRequest_ = request;
      }
      ++requests_;
      if (response_.empty()) {
        held_.push_back(client);  // never answered; closed when the server stops
        continue;
      }
      std::size_t sent = 0;
      while (sent < response_.size() && !stop_) {
        const std::size_t chunk = drip_.count() > 0 ? 1 : response_.size() - sent;
        const ssize_t n = ::send(client, response_.data() + sent, chunk, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
        if (drip_.count() > 0) std::this_thread::sleep_for(drip_);
      }
      ::shutdown(client, SHUT_WR);
      ::close(client);
    }
  }

  std::string readRequest(int client) {
    std::string request;
    char buffer[1024];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 16384 && !stop_) {
      pollfd ready{client, POLLIN, 0};
      if (::poll(&ready, 1, 1000) <= 0) break;
      const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      request.append(buffer, static_cast<std::size_t>(n));
    }
    return request;
  }

  std::string response_;
  std::chrono::milliseconds drip_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::vector<int> held_;
  mutable std::mutex mutex_;
  std::string lastRequest_;
  std::thread thread_;
};
