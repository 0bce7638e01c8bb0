#include "kvplatform/process/ChildWork.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string_view>

#include "kvplatform/base/Log.h"

namespace kv::platform {
namespace {

// The child writes records: a kind byte and a 32-bit length, then that many
// bytes. Data records carry what `work` writes; the others say what it logs
// and how it ended.
enum Kind : char { kData = 'D', kLog = 'L', kLogOnce = 'O', kFailed = 'F', kDone = 'K' };
constexpr std::size_t kHeaderBytes = 5;
constexpr std::size_t kMaxRecord = std::size_t{1} << 30;

int& ChildFd() {
  static int fd = -1;
  return fd;
}

bool WriteAll(int fd, const void* data, std::size_t size) {
  const char* at = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(fd, at, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteRecord(int fd, Kind kind, const void* data, std::size_t size) {
  char header[kHeaderBytes] = {kind};
  auto length = static_cast<std::uint32_t>(size);
  std::memcpy(header + 1, &length, sizeof length);
  return WriteAll(fd, header, kHeaderBytes) && WriteAll(fd, data, size);
}

void SendLog(std::string_view message, bool once) {
  message = message.substr(0, kMaxRecord);
  (void)WriteRecord(ChildFd(), once ? kLogOnce : kLog, message.data(), message.size());
}

void SendFailure(int fd, const Error& error) {
  std::string payload(sizeof(std::int32_t), '\0');
  auto code = static_cast<std::int32_t>(error.code);
  std::memcpy(payload.data(), &code, sizeof code);
  payload += std::string_view(error.message).substr(0, kMaxRecord - payload.size());
  (void)WriteRecord(fd, kFailed, payload.data(), payload.size());
}

[[noreturn]] void RunChild(int fd, pid_t parent, const std::function<Status(ChildOutput&)>& work) {
  // The child never outlives its parent, even one that is killed.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) _exit(1);
  ChildFd() = fd;
  DivertLog(SendLog);
  ChildOutput output(fd);
  Status done;
  try {
    done = work(output);
  } catch (const std::exception& e) {
    done = Fail(e.what());
  }
  if (done) {
    (void)WriteRecord(fd, kDone, nullptr, 0);
  } else {
    SendFailure(fd, done.error());
  }
  // No exit handlers, no flushing of buffers the parent also holds.
  _exit(0);
}

std::string Seconds(std::chrono::milliseconds limit) { return std::to_string((limit.count() + 999) / 1000); }

}  // namespace

Status ChildOutput::Write(const void* data, std::size_t size) {
  const char* at = static_cast<const char*>(data);
  do {
    std::size_t part = std::min(size, kMaxRecord);
    if (!WriteRecord(fd_, kData, at, part)) return Fail(std::string("the parent stopped reading: ") + std::strerror(errno));
    at += part;
    size -= part;
  } while (size > 0);
  return Ok();
}

Status ChildInput::ReadRaw(void* data, std::size_t size) {
  char* at = static_cast<char*>(data);
  while (size > 0) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline_ - std::chrono::steady_clock::now());
    pollfd ready{fd_, POLLIN, 0};
    int polled = left.count() > 0 ? ::poll(&ready, 1, static_cast<int>(std::min<long long>(left.count(), 60'000))) : 0;
    if (polled < 0 && errno == EINTR) continue;
    if (polled == 0 && left.count() <= 60'000) {
      timedOut_ = true;
      return Fail("out of time");
    }
    if (polled <= 0) continue;
    ssize_t n = ::read(fd_, at, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      cutShort_ = true;
      return Fail("ended without finishing");
    }
    at += n;
    size -= static_cast<std::size_t>(n);
  }
  return Ok();
}

Status ChildInput::NextRecord() {
  if (ended_) return std::unexpected(*ended_);
  if (succeeded_) return Fail("answered less than was expected");
  char header[kHeaderBytes];
  KV_TRY(ReadRaw(header, kHeaderBytes));
  std::uint32_t length = 0;
  std::memcpy(&length, header + 1, sizeof length);
  if (length > kMaxRecord) return Fail("answered what cannot be read");
  switch (header[0]) {
    case kData:
      dataLeft_ = length;
      return Ok();
    case kLog:
    case kLogOnce: {
      std::string message(length, '\0');
      KV_TRY(ReadRaw(message.data(), length));
      header[0] == kLog ? LogError(message) : LogErrorOnce(message);
      return Ok();
    }
    case kFailed: {
      std::string payload(length, '\0');
      KV_TRY(ReadRaw(payload.data(), length));
      if (length < sizeof(std::int32_t)) return Fail("answered what cannot be read");
      std::int32_t code = 0;
      std::memcpy(&code, payload.data(), sizeof code);
      ended_ = Error{static_cast<ErrorCode>(code), payload.substr(sizeof code)};
      return std::unexpected(*ended_);
    }
    case kDone:
      succeeded_ = true;
      return Ok();
    default:
      return Fail("answered what cannot be read");
  }
}

Status ChildInput::Read(void* data, std::size_t size) {
  char* at = static_cast<char*>(data);
  while (size > 0) {
    if (dataLeft_ == 0) {
      KV_TRY(NextRecord());
      if (succeeded_) return Fail("answered less than was expected");
      continue;
    }
    std::size_t part = std::min(size, dataLeft_);
    KV_TRY(ReadRaw(at, part));
    at += part;
    size -= part;
    dataLeft_ -= part;
  }
  return Ok();
}

Status ChildInput::Finish() {
  while (!succeeded_) {
    char skipped[4096];
    while (dataLeft_ > 0) {
      std::size_t part = std::min(dataLeft_, sizeof skipped);
      KV_TRY(ReadRaw(skipped, part));
      dataLeft_ -= part;
    }
    KV_TRY(NextRecord());
  }
  return Ok();
}

Status RunInChild(std::string_view name, const std::function<Status(ChildOutput&)>& work,
                  const std::function<Status(ChildInput&)>& receive, std::chrono::milliseconds limit) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return Fail("cannot start " + std::string(name) + ": " + std::strerror(errno));
  auto deadline = std::chrono::steady_clock::now() + limit;
  pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid < 0) {
    int error = errno;
    ::close(fds[0]);
    ::close(fds[1]);
    return Fail("cannot start " + std::string(name) + ": " + std::strerror(error));
  }
  if (pid == 0) {
    ::close(fds[0]);
    RunChild(fds[1], parent, work);
  }
  ::close(fds[1]);
  ChildInput input(fds[0], deadline);
  Status received = receive(input);
  Status answer = received ? input.Finish() : received;
  ::close(fds[0]);
  // A child that failed says so and ends by itself; one that is still at
  // work (out of time, or its answer was refused) is ended here.
  if (!answer && !input.ended_) ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (input.timedOut_) return Fail(std::string(name) + " did not finish within " + Seconds(limit) + " s and was stopped");
  if (input.cutShort_) {
    if (WIFSIGNALED(status)) {
      return Fail(std::string(name) + " crashed (signal " + std::to_string(WTERMSIG(status)) + ": " +
                  ::strsignal(WTERMSIG(status)) + ")");
    }
    return Fail(std::string(name) + " ended without finishing (exit status " +
                std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")");
  }
  if (!answer && !input.ended_) return Fail(answer.error(), std::string(name));
  return answer;
}

}  // namespace kv::platform
