// Load generator for the agent's HTTP API: each request on a fresh TCP
// connection to 127.0.0.1, as HTTP/1.0 clients talk to the agent. Plain
// blocking POSIX sockets, one thread per simulated client.
//
// Usage: http_load PORT CONCURRENCY (--requests N | --seconds S) QUERY [EXPECT]
//   QUERY   the part after "/" in the request line, for example "?c=10"
//   EXPECT  text every answer must contain (default "\"code\":200")
// Prints one line of key=value figures:
//   requests errors seconds rps p50_ms p99_ms max_ms
// An answer that lacks EXPECT, a refused connection or a reset counts as an
// error; its latency is not recorded.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  int port = 0;
  int concurrency = 1;
  long requests = 0;     // total across clients, when > 0
  double seconds = 0.0;  // run time, when requests is 0
  std::string request;
  std::string expect = "\"code\":200";
};

struct ClientResult {
  std::vector<double> latenciesMs;
  long errors = 0;
};

// One exchange: connect, send, read to end of stream, close. True when the
// answer holds the expected text.
bool Exchange(const Options& options, std::string* answer) {
  answer->clear();
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(options.port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = false;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const char* data = options.request.data();
    std::size_t left = options.request.size();
    while (left > 0) {
      ssize_t sent = ::send(fd, data, left, MSG_NOSIGNAL);
      if (sent < 0 && errno == EINTR) continue;
      if (sent <= 0) break;
      data += sent;
      left -= static_cast<std::size_t>(sent);
    }
    if (left == 0) {
      char buffer[4096];
      for (;;) {
        ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
          ok = got == 0;
          break;
        }
        answer->append(buffer, static_cast<std::size_t>(got));
      }
    }
  }
  ::close(fd);
  return ok && answer->find(options.expect) != std::string::npos;
}

double Percentile(const std::vector<double>& sorted, double fraction) {
  if (sorted.empty()) return 0.0;
  std::size_t index =
      static_cast<std::size_t>(fraction * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(index, sorted.size() - 1)];
}

int Usage() {
  std::fprintf(stderr,
               "usage: http_load PORT CONCURRENCY (--requests N | --seconds S) QUERY [EXPECT]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) return Usage();
  Options options;
  options.port = std::atoi(argv[1]);
  options.concurrency = std::atoi(argv[2]);
  const std::string mode = argv[3];
  if (mode == "--requests") {
    options.requests = std::atol(argv[4]);
  } else if (mode == "--seconds") {
    options.seconds = std::atof(argv[4]);
  } else {
    return Usage();
  }
  if (options.port <= 0 || options.concurrency <= 0 ||
      (options.requests <= 0 && options.seconds <= 0.0)) {
    return Usage();
  }
  options.request = std::string("POST /") + argv[5] + " HTTP/1.0\r\n\r\n";
  if (argc > 6) options.expect = argv[6];

  std::atomic<long> remaining{options.requests};
  std::vector<ClientResult> results(static_cast<std::size_t>(options.concurrency));
  std::vector<std::thread> clients;
  const std::size_t perClient =
      options.requests > 0 ? static_cast<std::size_t>(options.requests / options.concurrency + 1)
                           : 65536;
  const Clock::time_point start = Clock::now();
  const Clock::time_point end = start + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(options.seconds));
  for (int i = 0; i < options.concurrency; ++i) {
    clients.emplace_back([&, i] {
      ClientResult& result = results[static_cast<std::size_t>(i)];
      result.latenciesMs.reserve(perClient);
      std::string answer;
      for (;;) {
        if (options.requests > 0) {
          if (remaining.fetch_sub(1) <= 0) break;
        } else if (Clock::now() >= end) {
          break;
        }
        const Clock::time_point begun = Clock::now();
        const bool ok = Exchange(options, &answer);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - begun).count();
        if (ok) {
          result.latenciesMs.push_back(ms);
        } else {
          ++result.errors;
          if (result.errors == 1 && i == 0) {
            std::fprintf(stderr, "http_load: unexpected answer: %.200s\n", answer.c_str());
          }
        }
      }
    });
  }
  for (std::thread& client : clients) client.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

  std::vector<double> all;
  long errors = 0;
  for (const ClientResult& result : results) {
    all.insert(all.end(), result.latenciesMs.begin(), result.latenciesMs.end());
    errors += result.errors;
  }
  std::sort(all.begin(), all.end());
  std::printf("requests=%zu errors=%ld seconds=%.3f rps=%.1f p50_ms=%.3f p99_ms=%.3f max_ms=%.3f\n",
              all.size(), errors, seconds, static_cast<double>(all.size()) / seconds,
              Percentile(all, 0.50), Percentile(all, 0.99), all.empty() ? 0.0 : all.back());
  return 0;
}
