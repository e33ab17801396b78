#include "tools/teach/vcTeachConnection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

thread_local vcTeachStream* tCurrent = nullptr;

void addressOf(int sock, bool peer, std::string& ip, int& port) {
  sockaddr_storage a{};
  socklen_t n = sizeof a;
  const int got = peer ? getpeername(sock, reinterpret_cast<sockaddr*>(&a), &n)
                       : getsockname(sock, reinterpret_cast<sockaddr*>(&a), &n);
  ip.clear();
  port = -1;
  if (got != 0 || a.ss_family != AF_INET) return;
  const auto& in = reinterpret_cast<const sockaddr_in&>(a);
  char text[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
  ip = text;
  port = ntohs(in.sin_port);
}

}  // namespace

vcTeachStream* vcTeachStream::current() { return tCurrent; }

void vcTeachStream::setCurrent() { tCurrent = this; }

void vcTeachStream::clearCurrent() {
  if (tCurrent == this) tCurrent = nullptr;
}

std::size_t vcTeachStream::allowance(std::size_t size) {
  if (read_ >= limit_) {
    overLimit_ = true;
    return 0;
  }
  return std::size_t(std::min<std::uint64_t>(size, limit_ - read_));
}

vcTeachSocketStream::vcTeachSocketStream(int sock, vcTeachClock::time_point accepted,
                                         std::uint64_t limit)
    : vcTeachStream(limit), sock_(sock), readBy_(accepted + kVcTeachHeaderTime) {
  setCurrent();
}

vcTeachSocketStream::~vcTeachSocketStream() { clearCurrent(); }

void vcTeachSocketStream::admitted() { readBy_ = vcTeachClock::now() + kVcTeachBodyTime; }

bool vcTeachSocketStream::ready(short events, vcTeachClock::time_point by) const {
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(by - vcTeachClock::now()).count();
    pollfd p{sock_, events, 0};
    // Past the deadline (a wait of 0), only what has already arrived is read.
    const int n = poll(&p, 1, int(std::clamp<long long>(left, 0, 1 << 30)));
    if (n > 0) return true;  // ready, or an error the next call reports
    if (n == 0 || errno != EINTR) return false;
  }
}

bool vcTeachSocketStream::is_readable() const { return at_ < end_ || ready(POLLIN, readBy_); }

bool vcTeachSocketStream::is_writable() const {
  return ready(POLLOUT, writing_ ? writeBy_ : vcTeachClock::now() + kVcTeachAnswerTime);
}

ssize_t vcTeachSocketStream::read(char* ptr, size_t size) {
  if (at_ == end_) {
    const std::size_t want = allowance(sizeof buffer_);
    if (want == 0) return -1;
    if (!ready(POLLIN, readBy_)) {
      late_ = true;
      return -1;
    }
    const ssize_t n = recv(sock_, buffer_, want, 0);
    if (n <= 0) return n;
    read_ += std::uint64_t(n);
    at_ = 0;
    end_ = std::size_t(n);
  }
  const std::size_t n = std::min(size, end_ - at_);
  std::memcpy(ptr, buffer_ + at_, n);
  at_ += n;
  return ssize_t(n);
}

ssize_t vcTeachSocketStream::write(const char* ptr, size_t size) {
  if (!writing_) {
    writing_ = true;
    writeBy_ = vcTeachClock::now() + kVcTeachAnswerTime;
  }
  if (!ready(POLLOUT, writeBy_)) return -1;
  return send(sock_, ptr, size, MSG_NOSIGNAL);
}

void vcTeachSocketStream::get_remote_ip_and_port(std::string& ip, int& port) const {
  addressOf(sock_, true, ip, port);
}

void vcTeachSocketStream::get_local_ip_and_port(std::string& ip, int& port) const {
  addressOf(sock_, false, ip, port);
}

vcTeachMemoryStream::vcTeachMemoryStream(std::string request, std::uint64_t limit)
    : vcTeachStream(limit), request_(std::move(request)) {
  setCurrent();
}

vcTeachMemoryStream::~vcTeachMemoryStream() { clearCurrent(); }

ssize_t vcTeachMemoryStream::read(char* ptr, size_t size) {
  const std::size_t n = std::min(allowance(size), request_.size() - at_);
  if (n == 0) return overLimit_ ? -1 : 0;
  std::memcpy(ptr, request_.data() + at_, n);
  at_ += n;
  read_ += n;
  return ssize_t(n);
}

ssize_t vcTeachMemoryStream::write(const char* ptr, size_t size) {
  answer_.append(ptr, size);
  return ssize_t(size);
}

void vcTeachMemoryStream::get_remote_ip_and_port(std::string& ip, int& port) const {
  ip = "127.0.0.1";
  port = 0;
}

void vcTeachMemoryStream::get_local_ip_and_port(std::string& ip, int& port) const {
  ip = "127.0.0.1";
  port = 0;
}
