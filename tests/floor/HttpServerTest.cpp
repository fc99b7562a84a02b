// The dashboard's HTTP server on a real loopback socket: what it answers to good, bad and
// hostile requests, its bounds (connections, request size and time, streams and their backlog),
// and that it goes on serving after each of them.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "floor/HttpServer.h"
#include "support/HttpClient.h"

namespace irdload::floor {
namespace {

using namespace std::chrono_literals;
using test::HttpBody;
using test::HttpConnection;
using test::HttpExchange;
using test::HttpGet;
using test::HttpStatus;

constexpr auto kBound = 30s;

class HttpServerTest : public ::testing::Test {
 protected:
  void Serve(HttpLimits limits) {
    server_ = std::make_unique<HttpServer>(
        [](const std::string& path) -> std::optional<HttpReply> {
          if (path == "/hello") return HttpReply{200, "text/plain", "hello there", {}};
          if (path == "/file") return HttpReply{200, "text/csv", "a,b\n", "file.csv"};
          return std::nullopt;
        },
        "/events", [] { return std::string("event: state\ndata: first\n\n"); }, limits);
    std::string error;
    ASSERT_TRUE(server_->Listen("127.0.0.1:0", &error)) << error;
    server_->Start();
    port_ = server_->port();
  }
  // It still answers a plain request.
  void ExpectServing() {
    const std::string r = HttpGet(port_, "/hello");
    EXPECT_EQ(HttpStatus(r), 200) << r;
    EXPECT_EQ(HttpBody(r), "hello there");
  }

  std::unique_ptr<HttpServer> server_;
  int port_ = 0;
};

TEST_F(HttpServerTest, AnswersEachRequestOrRefusesItWith4xx) {
  Serve({});
  const std::string bigHeader = "X-Big: " + std::string(64 * 1024, 'a') + "\r\n";
  const struct {
    std::string request;
    int status;
    std::string body;  // checked when not empty
  } cases[] = {
      {"GET /hello HTTP/1.1\r\nHost: x\r\n\r\n", 200, "hello there"},
      {"GET /hello?refresh=1 HTTP/1.0\r\n\r\n", 200, "hello there"},
      {"GET /nope HTTP/1.1\r\n\r\n", 404, "404 Not Found\n"},
      {"GET /../../../etc/passwd HTTP/1.1\r\n\r\n", 404, ""},
      {"GET /hello/../hello HTTP/1.1\r\n\r\n", 404, ""},
      {"GET //etc/passwd HTTP/1.1\r\n\r\n", 404, ""},
      {"POST /hello HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", 405, ""},
      {"DELETE /hello HTTP/1.1\r\n\r\n", 405, ""},
      {"PUT /events HTTP/1.1\r\n\r\n", 405, ""},
      {"GARBAGE\r\n\r\n", 400, ""},
      {"GET hello HTTP/1.1\r\n\r\n", 400, ""},
      {"GET /hello HTTP/2.0\r\n\r\n", 400, ""},
      {"GET /hello  HTTP/1.1\r\n\r\n", 400, ""},
      {"GET /hello HTTP/1.1\r\n" + bigHeader + "\r\n", 431, ""},
      {"GET /" + std::string(20000, 'x') + " HTTP/1.1\r\n\r\n", 431, ""},
      {"GET /hello HTTP/1.1\r\n" + std::string(9000, '\n'), 431, ""},
  };
  for (const auto& c : cases) {
    const std::string r = HttpExchange(port_, c.request);
    SCOPED_TRACE(c.request.substr(0, 60));
    EXPECT_EQ(HttpStatus(r), c.status) << r.substr(0, 200);
    if (!c.body.empty()) {
      EXPECT_EQ(HttpBody(r), c.body);
    }
    EXPECT_NE(r.find("Connection: close\r\n"), std::string::npos);
  }
  const std::string head = HttpExchange(port_, "HEAD /hello HTTP/1.1\r\n\r\n");
  EXPECT_EQ(HttpStatus(head), 200);
  EXPECT_NE(head.find("Content-Length: 11\r\n"), std::string::npos) << head;
  EXPECT_EQ(HttpBody(head), "");
  const std::string file = HttpGet(port_, "/file");
  EXPECT_NE(file.find("Content-Disposition: attachment; filename=\"file.csv\"\r\n"),
            std::string::npos)
      << file;
  ExpectServing();
}

TEST_F(HttpServerTest, ARequestThatNeverEndsGets408AndTheServerGoesOn) {
  HttpLimits limits;
  limits.requestTime = 300ms;
  Serve(limits);
  HttpConnection slow(port_);
  ASSERT_TRUE(slow.Send("GET /hello HTTP/1.1\r\nHost: 127"));
  ExpectServing();  // meanwhile
  const std::string r = slow.Read(kBound);
  EXPECT_EQ(HttpStatus(r), 408) << r;
  EXPECT_TRUE(slow.closedByServer());
}

TEST_F(HttpServerTest, ConnectionsPastTheBoundGet503UntilOthersClose) {
  HttpLimits limits;
  limits.connections = 8;
  Serve(limits);
  std::vector<std::unique_ptr<HttpConnection>> idle;
  for (int i = 0; i < 8; ++i) {
    idle.push_back(std::make_unique<HttpConnection>(port_));
    ASSERT_TRUE(idle.back()->connected());
  }
  // The server has taken all eight once a ninth is refused.
  std::string refused;
  for (int i = 0; i < 100 && HttpStatus(refused) != 503; ++i) refused = HttpGet(port_, "/hello");
  EXPECT_EQ(HttpStatus(refused), 503) << refused;
  EXPECT_NE(refused.find("Retry-After: 5\r\n"), std::string::npos);
  idle.clear();
  std::string served;
  for (int i = 0; i < 100 && HttpStatus(served) != 200; ++i) served = HttpGet(port_, "/hello");
  EXPECT_EQ(HttpStatus(served), 200) << served;
}

TEST_F(HttpServerTest, ManyConnectionsAtOnceAreEachAnsweredOrRefused) {
  Serve({});
  std::vector<std::unique_ptr<HttpConnection>> many;
  for (int i = 0; i < 300; ++i) {
    many.push_back(std::make_unique<HttpConnection>(port_));
    many.back()->Send("GET /hello HTTP/1.1\r\n\r\n");
  }
  int ok = 0;
  for (auto& c : many) {
    const int status = HttpStatus(c->Read(kBound));
    EXPECT_TRUE(status == 200 || status == 503) << c->got();
    ok += status == 200;
  }
  EXPECT_GT(ok, 0);
  ExpectServing();
}

TEST_F(HttpServerTest, StreamsGetTheGreetingThenEachBroadcastInOrder) {
  HttpLimits limits;
  limits.streams = 2;
  Serve(limits);
  HttpConnection a(port_), b(port_);
  ASSERT_TRUE(a.Send("GET /events HTTP/1.1\r\n\r\n"));
  ASSERT_TRUE(b.Send("GET /events HTTP/1.1\r\n\r\n"));
  for (HttpConnection* c : {&a, &b}) {
    const std::string r = c->Read(kBound, "data: first\n\n");
    EXPECT_EQ(HttpStatus(r), 200) << r;
    EXPECT_NE(r.find("Content-Type: text/event-stream\r\n"), std::string::npos);
  }
  const std::string third = HttpGet(port_, "/events");
  EXPECT_EQ(HttpStatus(third), 503) << third;
  for (int i = 1; i <= 3; ++i) server_->Broadcast("data: " + std::to_string(i) + "\n\n");
  for (HttpConnection* c : {&a, &b}) {
    const std::string r = c->Read(kBound, "data: 3\n\n");
    const std::size_t one = r.find("data: 1\n\n"), two = r.find("data: 2\n\n"),
                      three = r.find("data: 3\n\n");
    ASSERT_NE(three, std::string::npos) << r;
    EXPECT_LT(one, two);
    EXPECT_LT(two, three);
  }
  a.Close();
  // Its place is free again once the server has seen it go.
  std::string again;
  for (int i = 0; i < 100 && HttpStatus(again) != 200; ++i) {
    HttpConnection c(port_);
    c.Send("GET /events HTTP/1.1\r\n\r\n");
    again = c.Read(2s, "data: first\n\n");
  }
  EXPECT_EQ(HttpStatus(again), 200) << again;
}

TEST_F(HttpServerTest, AStreamThatStopsReadingIsDroppedAndTheOthersGetEverything) {
  HttpLimits limits;
  limits.streamBacklog = 64 * 1024;
  Serve(limits);
  HttpConnection stuck(port_), reader(port_);
  ASSERT_TRUE(stuck.Send("GET /events HTTP/1.1\r\n\r\n"));
  ASSERT_TRUE(reader.Send("GET /events HTTP/1.1\r\n\r\n"));
  stuck.Read(kBound, "data: first\n\n");
  reader.Read(kBound, "data: first\n\n");
  // Far more than the stuck one's socket buffers and backlog hold, each message once the reader
  // has the one before, so that the serving thread never has two waiting.
  const std::string filler(16000, 'z');
  std::size_t got = 0;
  for (int i = 0; i < 1000; ++i) {
    const std::string message = "data: " + std::to_string(i) + filler + "\n\n";
    server_->Broadcast(message);
    const std::string& all = reader.Read(kBound, message);
    if (all.find(message) == std::string::npos) break;
    ++got;
    reader.Clear();
  }
  EXPECT_EQ(got, 1000u);
  // The stuck one was let go: reading now reaches the server's close.
  stuck.Read(kBound, "no such text");
  EXPECT_TRUE(stuck.closedByServer());
  ExpectServing();
}

TEST(ListenAddressTest, HostAndPortOrPortAlone) {
  const struct {
    std::string text;
    bool ok;
    std::string host;
    int port;
  } cases[] = {
      {"127.0.0.1:8080", true, "127.0.0.1", 8080},
      {"8080", true, "127.0.0.1", 8080},
      {"0.0.0.0:80", true, "0.0.0.0", 80},
      {"localhost:0", true, "127.0.0.1", 0},
      {":8080", false, "", 0},
      {"127.0.0.1:", false, "", 0},
      {"127.0.0.1:65536", false, "", 0},
      {"127.0.0.1:80a", false, "", 0},
      {"", false, "", 0},
  };
  for (const auto& c : cases) {
    std::string host;
    int port = -1;
    EXPECT_EQ(ParseListenAddress(c.text, &host, &port), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(host, c.host) << c.text;
      EXPECT_EQ(port, c.port) << c.text;
    }
  }
  HttpServer server([](const std::string&) { return std::nullopt; }, "/e", [] { return ""; });
  std::string error;
  EXPECT_FALSE(server.Listen("nowhere:80", &error));
  EXPECT_NE(error.find("\"nowhere\" is not an IPv4 address"), std::string::npos) << error;
}

}  // namespace
}  // namespace irdload::floor
