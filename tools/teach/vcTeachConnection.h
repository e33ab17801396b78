// One connection of the teach server as cpp-httplib reads and writes it, bounded as a whole:
// a client has kVcTeachHeaderTime from its connection to send the request's line and
// headers, kVcTeachBodyTime from then for the body and kVcTeachAnswerTime to take the answer
// (cpp-httplib's own timeouts are per read, so a byte every few seconds held a server thread
// for as long as the client liked), and the bytes of a request are counted as they arrive,
// however it is framed (a length, chunks, or none until the connection closes). A connection
// answers one request.
#pragma once

#include <httplib.h>

#include <chrono>
#include <cstdint>
#include <string>

using vcTeachClock = std::chrono::steady_clock;

inline constexpr auto kVcTeachHeaderTime = std::chrono::seconds(5);
inline constexpr auto kVcTeachBodyTime = std::chrono::seconds(60);
inline constexpr auto kVcTeachAnswerTime = std::chrono::seconds(60);

// What the server's handlers may ask of the connection their request came on.
class vcTeachStream : public httplib::Stream {
 public:
  // `limit`: the bytes a request may hold, its line and headers included.
  explicit vcTeachStream(std::uint64_t limit) : limit_(limit) {}

  // The request's headers were accepted: its body may take kVcTeachBodyTime from now.
  virtual void admitted() {}
  // The request held more than the limit; reading stopped there.
  bool overLimit() const { return overLimit_; }
  // The request did not arrive in time; reading stopped there.
  bool late() const { return late_; }

  // The stream of the request the calling thread is serving, or null.
  static vcTeachStream* current();

 protected:
  // How much of `size` may still be read; 0 (and overLimit()) when the limit is reached.
  std::size_t allowance(std::size_t size);
  void setCurrent();
  void clearCurrent();

  std::uint64_t limit_, read_ = 0;
  bool overLimit_ = false, late_ = false;
};

// A socket accepted at `accepted`.
class vcTeachSocketStream : public vcTeachStream {
 public:
  vcTeachSocketStream(int sock, vcTeachClock::time_point accepted, std::uint64_t limit);
  ~vcTeachSocketStream() override;

  void admitted() override;
  bool is_readable() const override;
  bool is_writable() const override;
  ssize_t read(char* ptr, size_t size) override;
  ssize_t write(const char* ptr, size_t size) override;
  void get_remote_ip_and_port(std::string& ip, int& port) const override;
  void get_local_ip_and_port(std::string& ip, int& port) const override;
  socket_t socket() const override { return sock_; }

 private:
  // Waits until `events` are possible on the socket or `by` passes (0 from poll then).
  bool ready(short events, vcTeachClock::time_point by) const;

  int sock_;
  vcTeachClock::time_point readBy_;
  vcTeachClock::time_point writeBy_{};  // set by the first write
  bool writing_ = false;
  char buffer_[4096];
  std::size_t at_ = 0, end_ = 0;
};

// A request held in memory and its answer: the server's handling without a socket, for tests
// and fuzzing.
class vcTeachMemoryStream : public vcTeachStream {
 public:
  vcTeachMemoryStream(std::string request, std::uint64_t limit);
  ~vcTeachMemoryStream() override;

  const std::string& answer() const { return answer_; }
  bool is_readable() const override { return true; }
  bool is_writable() const override { return true; }
  ssize_t read(char* ptr, size_t size) override;
  ssize_t write(const char* ptr, size_t size) override;
  void get_remote_ip_and_port(std::string& ip, int& port) const override;
  void get_local_ip_and_port(std::string& ip, int& port) const override;
  socket_t socket() const override { return INVALID_SOCKET; }

 private:
  std::string request_, answer_;
  std::size_t at_ = 0;
};
