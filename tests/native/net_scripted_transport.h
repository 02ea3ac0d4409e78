#pragma once
// A transport that plays back scripted responses and records what the client
// gave each request, so the client's algorithms can be checked exactly:
// chunking, error numbers, headers, proxies.

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/text.h"
#include "net/http_response.h"
#include "net/transport.h"

namespace kelvora::net::testing {

struct ScriptedResponse {
  std::uint32_t send_error = 0;
  std::uint32_t receive_error = 0;
  std::uint32_t secure_failures = 0;  // recorded when sent, as the platform's notification would
  std::int32_t status = 200;
  std::wstring headers;               // "Name: value" lines joined by CR LF
  std::vector<std::string> chunks;    // what each QueryDataAvailable reports, and ReadData yields at the most
  // How long each chunk takes to arrive, charged to Script::now when it is
  // first reached; none: no time passes. A chunk that takes kWaitingAfter or
  // longer runs the request's waiting handler first, as the platform's
  // transport does for a call that waits.
  std::vector<std::chrono::microseconds> chunk_times;
  std::uint32_t read_error = 0;       // reported once the chunks are used up
  std::uint32_t status_query_error = 0;
};

struct SentRequest {
  std::wstring method;
  std::wstring url;
  HeaderList headers;  // in the order they stand on the request
  ProxySetting proxy;
};

// How a read that asks for more than the current chunk behaves.
enum class ReadMode {
  Windows,  // returns at most the rest of one chunk: some bytes once they are there (documented)
  Wine,     // waits until its buffer is full or the body ends; a failed read keeps nothing (measured)
};

inline constexpr std::chrono::microseconds kWaitingAfter{25000};

struct Script {
  ReadMode read_mode = ReadMode::Windows;
  std::deque<ScriptedResponse> responses;
  std::vector<SentRequest> sent;
  std::vector<std::wstring> opened;  // each Open's address
  ProxySetting proxy;                // what FindProxy answers
  int find_proxy_calls = 0;
  OpenFailure open_failure = OpenFailure::None;
  std::uint32_t open_error = 0;
  std::uint32_t add_header_error = 0;
  std::uint32_t declare_error = 0;
  int declared_no_certificate = 0;
  int disabled_features = 0;
  int reads = 0;  // successful ReadData calls with bytes
  int queries = 0;  // QueryDataAvailable calls
  std::vector<std::uint32_t> read_sizes;  // what each ReadData asked for
  std::chrono::steady_clock::time_point now;  // advanced by chunk_times
  std::uint32_t secure_failures = 0;
};

class ScriptedRequest : public TransportRequest {
 public:
  explicit ScriptedRequest(Script& script) : script_(script) {}

  OpenFailure Open(const Url& url, std::wstring_view method, std::uint32_t& error) override {
    script_.opened.push_back(url.ToString());
    if (script_.open_failure != OpenFailure::None) {
      error = script_.open_error;
      return script_.open_failure;
    }
    url_ = url;
    method_ = std::wstring(method);
    headers_.clear();
    proxy_ = {};
    return OpenFailure::None;
  }

  std::uint32_t AddHeader(std::wstring_view name, std::wstring_view value, HeaderMode mode) override {
    if (script_.add_header_error) return script_.add_header_error;
    for (auto& [key, existing] : headers_) {
      if (EqualsIgnoreCase(key, name)) {
        existing = mode == HeaderMode::CoalesceWithComma ? existing + L", " + std::wstring(value) : std::wstring(value);
        return 0;
      }
    }
    headers_.emplace_back(std::wstring(name), std::wstring(value));
    return 0;
  }

  std::uint32_t QueryRequestHeaders(std::wstring& raw) override {
    raw = method_ + L" " + url_.PathAndQuery() + L" HTTP/1.1\r\n";
    for (const auto& [name, value] : headers_) raw += name + L": " + value + L"\r\n";
    raw += L"\r\n";
    return 0;
  }

  void PrepareAttempt(const ProxySetting& proxy) override { proxy_ = proxy; }
  void DisableRedirectsAndCookies() override { ++script_.disabled_features; }

  std::uint32_t Send() override {
    // The transport adds the Host header itself, as WinHTTP does.
    bool has_host = false;
    for (const auto& header : headers_) has_host |= EqualsIgnoreCase(header.first, L"Host");
    if (!has_host) {
      std::wstring host = url_.host;
      if (url_.port != DefaultPort(url_.scheme)) host += L":" + std::to_wstring(url_.port);
      headers_.emplace_back(L"Host", host);
    }
    script_.sent.push_back({method_, url_.ToString(), headers_, proxy_});
    if (script_.responses.empty()) return 12029;  // nothing scripted: "cannot connect"
    current_ = script_.responses.front();
    script_.responses.pop_front();
    next_chunk_ = 0;
    offset_ = 0;
    charged_ = false;
    script_.secure_failures |= current_.secure_failures;
    return current_.send_error;
  }

  std::uint32_t ReceiveResponse() override {
    return current_.receive_error;
  }

  std::uint32_t DeclareNoClientCertificate() override {
    ++script_.declared_no_certificate;
    return script_.declare_error;
  }

  std::uint32_t QueryStatus(std::int32_t& status) override {
    if (current_.status_query_error) return current_.status_query_error;
    status = current_.status;
    return 0;
  }

  std::uint32_t QueryResponseHeaders(std::wstring& raw) override {
    raw = L"HTTP/1.1 " + std::to_wstring(current_.status) + L" Scripted\r\n" + current_.headers + L"\r\n\r\n";
    return 0;
  }

  std::uint32_t QueryDataAvailable(std::uint32_t& bytes) override {
    ++script_.queries;
    bytes = 0;
    if (!NextChunk()) return current_.read_error;
    bytes = static_cast<std::uint32_t>(current_.chunks[next_chunk_].size() - offset_);
    return 0;
  }

  void SetWaitingHandler(std::function<void()> handler) override { waiting_ = std::move(handler); }
  std::uint32_t ReadData(std::uint32_t size, const std::uint8_t*& data, std::uint32_t& read) override {
    script_.read_sizes.push_back(size);
    read = 0;
    if (script_.read_mode == ReadMode::Wine) {
      // Across chunks, each one's time passing as it is reached; on a
      // failure what was gathered is dropped.
      landing_.clear();
      while (landing_.size() < size) {
        if (!NextChunk()) {
          if (current_.read_error) return current_.read_error;
          break;
        }
        const auto& chunk = current_.chunks[next_chunk_];
        const std::size_t take = std::min<std::size_t>(size - landing_.size(), chunk.size() - offset_);
        landing_.append(chunk, offset_, take);
        offset_ += take;
      }
      read = static_cast<std::uint32_t>(landing_.size());
      data = reinterpret_cast<const std::uint8_t*>(landing_.data());
      if (read) ++script_.reads;
      return 0;
    }
    if (!NextChunk()) return current_.read_error;
    const auto& chunk = current_.chunks[next_chunk_];
    read = static_cast<std::uint32_t>(std::min<std::size_t>(size, chunk.size() - offset_));
    data = reinterpret_cast<const std::uint8_t*>(chunk.data()) + offset_;
    offset_ += read;
    if (read) ++script_.reads;
    return 0;
  }

 private:
  // Steps past used-up chunks; false when none is left. A chunk's time passes
  // when it is first reached.
  bool NextChunk() {
    while (next_chunk_ < current_.chunks.size() && offset_ == current_.chunks[next_chunk_].size()) {
      ++next_chunk_;
      offset_ = 0;
      charged_ = false;
    }
    if (next_chunk_ == current_.chunks.size()) return false;
    if (!charged_ && next_chunk_ < current_.chunk_times.size()) {
      if (waiting_ && current_.chunk_times[next_chunk_] >= kWaitingAfter) waiting_();
      script_.now += current_.chunk_times[next_chunk_];
    }
    charged_ = true;
    return true;
  }

  Script& script_;
  Url url_;
  std::wstring method_;
  HeaderList headers_;
  ProxySetting proxy_;
  ScriptedResponse current_;
  std::size_t next_chunk_ = 0;
  std::size_t offset_ = 0;
  bool charged_ = false;
  std::string landing_;  // what a read in Wine's mode gathered
  std::function<void()> waiting_;
};

class ScriptedTransport : public Transport {
 public:
  explicit ScriptedTransport(std::shared_ptr<Script> script) : script_(std::move(script)) {}

  std::unique_ptr<TransportRequest> NewRequest() override { return std::make_unique<ScriptedRequest>(*script_); }
  ProxySetting FindProxy(const Url&) override {
    ++script_->find_proxy_calls;
    return script_->proxy;
  }
  // Texts end in a full stop and a line break, like the platform's; 12999 has none.
  std::wstring ErrorText(std::uint32_t error) override {
    return error == 12999 ? L"" : L"Meldung " + std::to_wstring(error) + L".\r\n";
  }
  std::uint32_t SecureFailures() override { return script_->secure_failures; }
  void ClearSecureFailures() override { script_->secure_failures = 0; }

 private:
  std::shared_ptr<Script> script_;
};

}  // namespace kelvora::net::testing
