// A read that fills slowly is not a silent line: the WinHTTP transport waits
// for it as long as bytes keep coming, past its time-out and grace, and gives
// up only on silence. A plain-HTTP server on the loopback trickles the body.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <chrono>
#include <string>
#include <thread>

#include "net/transport.h"
#include "net/url.h"
#include "net/winhttp_transport.h"

namespace kelvora::net {
namespace {

// Answers one request with `pieces` pieces of `piece` bytes, one every
// `every`, on a port of its own; stops by itself.
class TrickleServer {
 public:
  TrickleServer(int pieces, int piece, std::chrono::milliseconds every) {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    int length = sizeof(address);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    ::listen(listener_, 1);
    thread_ = std::thread([=, this] {
      const SOCKET client = ::accept(listener_, nullptr, nullptr);
      if (client == INVALID_SOCKET) return;
      char request[4096];
      ::recv(client, request, sizeof(request), 0);
      const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(pieces * piece) +
                               "\r\nConnection: close\r\n\r\n";
      ::send(client, head.data(), static_cast<int>(head.size()), 0);
      const std::string bytes(piece, 't');
      for (int i = 0; i < pieces; ++i) {
        std::this_thread::sleep_for(every);
        if (::send(client, bytes.data(), piece, 0) != piece) break;
      }
      ::shutdown(client, SD_SEND);
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      ::closesocket(client);
    });
  }
  ~TrickleServer() {
    ::closesocket(listener_);
    thread_.join();
    ::WSACleanup();
  }
  int port() const { return port_; }

 private:
  SOCKET listener_;
  int port_ = 0;
  std::thread thread_;
};

TEST(NetSilence, AReadThatFillsSlowlyOutlastsTheTimeOut) {
  // 28 pieces of 1,000 bytes, one each 300 ms: 8.4 s for one read, past the
  // 1 s time-out plus the 5 s grace, with never more than 0.3 s of silence.
  TrickleServer server(28, 1000, std::chrono::milliseconds(300));
  WinHttpTransport transport(nullptr, 1000);
  const Url url = *ParseUrl(L"http://localhost:" + std::to_wstring(server.port()) + L"/file");
  auto request = transport.NewRequest();
  std::uint32_t error = 0;
  ASSERT_EQ(request->Open(url, L"GET", error), OpenFailure::None);
  ASSERT_EQ(request->Send(), 0u);
  ASSERT_EQ(request->ReceiveResponse(), 0u);
  const auto started = std::chrono::steady_clock::now();
  std::uint32_t total = 0;
  for (int calls = 0; calls < 100; ++calls) {
    const std::uint8_t* data = nullptr;
    std::uint32_t read = 0;
    // Far more than arrives in the time-out: under Wine the read waits until
    // its buffer is full or the body ends (Windows returns sooner).
    ASSERT_EQ(request->ReadData(64 * 1024, data, read), 0u) << "after " << total << " bytes";
    if (read == 0) break;
    total += read;
  }
  EXPECT_EQ(total, 28000u);
  EXPECT_GT(std::chrono::steady_clock::now() - started, std::chrono::seconds(6));
}

}  // namespace
}  // namespace kelvora::net
