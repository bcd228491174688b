// The stand-in for Kontorix's exchange service (ktx-exchange): answers the value requests of
// the program over its local named pipe, from a few options instead of a running office
// application.
//
// Requests arrive in the client's frame (exchange/IPCClient.h) with the entries "COMMAND" (the
// key) and optionally "DATA"; the reply carries the same message ID and, for a known key, the
// text entry "DATA". Keys:
//   "OFFICEMETRICS"  the configured window metrics, e.g. "60,40,1280,860" (left, top, ...)
//   "TAXH"           the configured tax rate in percent, e.g. "19"
//   "GETJSON"        the document copied to a fresh temporary file; the reply is its full
//                    name and the requester deletes it
//   "DBPATH"         the data folder, ending in the path delimiter
//   "ANYQUERY"       a read-only SQL query on the database, rows written to a new file in
//                    TempFolder(); added by TExchangeHost (host/AnyQuery.h)
// A key without a handler (an unknown one) gets a reply without "DATA", and so does a key whose
// handler raises (the error goes to the log line); further keys are added with
// TExchangeHandler::SetKey.
//
// A connection may carry several requests; it ends with the end marker (ID length -1), when
// the peer closes, when it sends nothing for the idle bound (30 s), on a frame beyond the
// frame's limits (exchange/Frame.h: ID over 64 KiB, data over 64 MiB), or when the requests
// being read at once would hold more than 128 MiB. At most 64 connections are served at once;
// further clients wait in the pipe's queue. Limits are THostLimits.
//
// The log gets one line per request, in UTF-8; every text from outside (key, data, reply,
// error) is cut to 120 bytes and its control characters and backslashes escaped ("\x0A",
// "\\"), so a key can neither flood the log nor forge a line. A pipe name with a control
// character is refused: it is the service file's first line. Copies made for "GETJSON" that the
// requester has not deleted are deleted when the service stops.
// Threads: the handler is read-only after set-up (its copy list is locked) and serves every
// connection thread at once.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "exchange/MessageData.h"
#include "platform/Pipe.h"
#include "util/Files.h"

namespace rb {

// The database file that "ANYQUERY" reads when --database names none: in the data folder.
inline constexpr char kDatabaseFileName[] = "Kontorix.sqlite";

struct THostOptions {
  std::string pipe_name = "KontorixExchange";
  std::string data_folder;    // empty: TempFolder("KontorixDaten")
  std::string document_file;  // empty: the sample invoice
  std::string tax_rate = "19";
  std::string office_metrics = "60,40,1280,860";
  std::string database;  // empty: data folder + kDatabaseFileName
  bool sample = false;   // put the demo's invoices into the database when it has none
};

// The command line of ktx-exchange (arguments after the program name): --pipe-name NAME,
// --data-folder DIR, --document FILE, --tax-rate TEXT, --office-metrics TEXT, --database FILE,
// each also as --option=value, and the flag --sample. False with error set for an unknown
// option or a missing value; help is set for --help or -h.
struct THostLimits {
  uint32_t idle_timeout_ms = 30000;  // 0: a silent connection is held for ever
  int max_connections = 64;
  int64_t max_pending_bytes = int64_t{128} << 20;
};

// A text from outside as the log shows it: at most 120 bytes of it, control characters and
// backslashes escaped, converted to UTF-8, with its full length after a cut.
//   "TA\nXH" -> "TA\x0AXH"
std::string LogText(const std::string& text);

// Whether name can name a pipe in the service file: not empty, no control characters.
bool IsValidPipeName(const std::string& name);

// The "GETJSON" copies made so far, to delete what the requesters left behind. Locked.
class TDocumentCopies {
 public:
  void Add(const std::string& path);
  // Deletes the copies that still exist and forgets all; the number deleted.
  int DeleteLeft();

 private:
  std::mutex mutex_;
  std::vector<std::string> paths_;
};

// Bytes held by requests being read, across connections, up to a limit. Thread-safe.
class TRequestBudget {
 public:
  explicit TRequestBudget(int64_t limit) : limit_(limit) {}
  // False, holding nothing, when bytes more would pass the limit.
  bool Take(int64_t bytes);
  void Give(int64_t bytes);
  int64_t Held() const { return held_.load(); }

 private:
  const int64_t limit_;
  std::atomic<int64_t> held_{0};
};

bool ParseHostOptions(const std::vector<std::string>& args, THostOptions& options, bool& help,
                      std::string& error);
std::string HostUsage();

// Fills the defaults of empty options and makes the data folder a full path with a delimiter
// and the database a full file name.
THostOptions ResolveHostOptions(THostOptions options);

class TExchangeHandler {
 public:
  // The reply text, or nullopt for a reply without "DATA".
  using TKeyHandler = std::function<std::optional<std::string>(const std::string& data)>;

  // The four built-in keys, answered from options (defaults resolved by the caller).
  explicit TExchangeHandler(const THostOptions& options);

  // Adds or replaces the handler of a key.
  void SetKey(const std::string& key, TKeyHandler handler);

  std::optional<std::string> Answer(const std::string& key, const std::string& data) const;

  TDocumentCopies& Copies() const { return *copies_; }

  // The reply message for a request message; log_line receives a one-line summary.
  TMessageRef AnswerRequest(const TMessageRef& request, std::string& log_line) const;

 private:
  std::shared_ptr<TDocumentCopies> copies_ = std::make_shared<TDocumentCopies>();
  std::map<std::string, TKeyHandler> keys_;
};

using TLogFunction = std::function<void(const std::string& line)>;

// Serves one connection until the end marker, the peer's close (or a read failing on the
// handle's time-out) or a bad frame; logs one line per request. A request's data is held
// against budget when one is given. Returns the number of requests answered. Does not close
// the handle.
int ServeConnection(platform::PipeHandle pipe, const TExchangeHandler& handler,
                    const TLogFunction& log, TRequestBudget* budget = nullptr);

// The listening service: the pipe, the local-service file and a thread per connection.
class TExchangeHost {
 public:
  TExchangeHost(THostOptions options, TLogFunction log, THostLimits limits = {});
  TExchangeHost(const TExchangeHost&) = delete;
  TExchangeHost& operator=(const TExchangeHost&) = delete;
  ~TExchangeHost();

  TExchangeHandler& Handler() { return handler_; }
  const THostOptions& Options() const { return options_; }

  // With the sample option, first puts the demo's invoices into the database (see
  // host/SampleDatabase.h). Creates the pipe and writes its name as the first line of the
  // local-service file in TempFolder(), retrying the write as retry says. False with error set,
  // and no pipe left open, when the name is invalid, the sample database, the pipe or the file
  // cannot be made. The name the file held before is kept, to be announced again at Shutdown.
  bool Start(std::string& error, const RetryPolicy& retry = {});
  // Accepts connections until stop() is true (checked every 100 ms). A connection whose thread
  // cannot be started is closed at once; one whose serving raises is dropped and logged.
  void Run(const std::function<bool()>& stop);
  // Ends open connections, removes the pipe, deletes the "GETJSON" copies left behind and,
  // while the local-service file still names this pipe, removes it or, when the service it
  // named before Start still listens, names that one again. Idempotent. REQUIRES: Run has
  // returned, so that no connection is accepted while the others are being ended.
  void Shutdown();

 private:
  void ServeOn(platform::PipeHandle pipe);

  THostOptions options_;
  TLogFunction log_;
  THostLimits limits_;
  TExchangeHandler handler_;
  TRequestBudget budget_;
  std::string previous_name_;  // named by the service file before Start
  platform::PipeServer server_;
  std::string service_file_;
  std::mutex mutex_;
  std::vector<platform::PipeHandle> open_;  // connections being served
  int active_ = 0;                          // their threads, detached; Shutdown waits for 0
  std::condition_variable idle_;
};

}  // namespace rb
