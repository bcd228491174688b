// Named value requests to the host's exchange service: the one way the program asks the host
// for anything. A request sends a key (and optionally a data text) and gets the reply's "DATA"
// text back.
//
// The service's pipe name is the first line of "KTX-EXCHANGELOCALSERVICE.TXT" in TempFolder(),
// read anew for every request. A request is tried up to 3 times, 50 ms after each unanswered
// try (the third included), with a 5,000 ms open time-out per try; each try is one connection.
// Texts are 8-bit in the system code page; they travel as UTF-16.
//
// Failure: an unanswered request yields the last try's text (as a rule empty) and no error,
// unless raise_on_failure is set: then the first unanswered try raises TIPCClientException
// ("ReadIPCValueSync: Der Server <name> antwortet nicht") without a pause. Reading the
// local-service file raises in either case when the file stays unreadable through its retries
// or when TempFolder() refuses an untrusted temporary folder (EOSError): neither is a missing
// answer, and the user must learn of it. Blocks the caller: about 150 ms when the service is
// missing, up to about 15 s while its pipe stays busy, and up to the read bound (30 s) on each
// of three tries while a connected service does not reply.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "exchange/IPCClient.h"
#include "util/Errors.h"
#include "util/Files.h"

namespace rb {

class TIPCClientException : public Exception {
  using Exception::Exception;
};

inline constexpr int kIPCTries = 3;
inline constexpr uint32_t kIPCRetryPauseMs = 50;
inline constexpr uint32_t kIPCOpenTimeoutMs = 5000;
inline constexpr const char* kLocalServiceFileName = "KTX-EXCHANGELOCALSERVICE.TXT";

// The tries of a value request: 3, with a pause of 50 ms after each unanswered one.
RetryPolicy IPCRetry();

// What a request runs on. The defaults are the real pipes, IPCRetry() and the client's 30 s
// read bound; tests replace them to script failures and to skip the pauses (retry.sleep).
struct TIPCSettings {
  IPipeApi* pipes = &SystemPipeApi();
  RetryPolicy retry = IPCRetry();
  uint32_t read_timeout_ms = kDefaultReadTimeoutMs;
  uint32_t open_timeout_ms = kIPCOpenTimeoutMs;
};

// The request: up to three tries; see the file's contract.
std::string ReadIPCValueSync(const std::string& key, bool raise_on_failure, const std::string& data,
                             const TIPCSettings& settings = TIPCSettings());

// ReadIPCValueSync without raising and without data.
std::string ReadIPCValue(const std::string& key, const TIPCSettings& settings = TIPCSettings());

// One try on the named service. answered is the client's ReplyReceived; the result is the
// reply's "DATA" text, also from a reply that broke off after that value had arrived whole. A
// try that runs out of memory is unanswered: std::bad_alloc never leaves a value request.
std::string QueryIPCValueOnce(const std::string& key, const std::string& service_name,
                              bool& answered, const std::string& data,
                              const TIPCSettings& settings = TIPCSettings());

// The first line of the local-service file, exactly as written; empty when the file is missing
// or has no lines. A file that cannot be read after the retries raises its error.
std::string ReadLocalServiceName();

// The request message for a key: "COMMAND" = key, "INDEX" = -1, "DATA" = data (no entry when
// empty), "SYNC" = true, in this order; no message ID.
TMessageRef NewRequestMessage(const std::string& key, const std::string& data);

}  // namespace rb
