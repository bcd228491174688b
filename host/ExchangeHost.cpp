#include "host/ExchangeHost.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>

#include "exchange/IPCValue.h"
#include "host/AnyQuery.h"
#include "host/SampleDatabase.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/SysError.h"
#include "util/Files.h"
#include "util/Streams.h"

#ifndef RB_SAMPLE_DOCUMENT
#define RB_SAMPLE_DOCUMENT ""
#endif

namespace rb {

namespace {

constexpr int64_t kMaxIdLength = 64 * 1024;
constexpr int64_t kMaxDataSize = 64 * 1024 * 1024;
constexpr int kAcceptPollMs = 100;

std::string Int64LE(int64_t value) {
  std::string out(8, '\0');
  for (int i = 0; i < 8; ++i) {
    out[i] = static_cast<char>((static_cast<uint64_t>(value) >> (8 * i)) & 0xFF);
  }
  return out;
}

int64_t GetInt64(const std::string& s) {
  uint64_t u = 0;
  for (int i = 0; i < 8; ++i) {
    u |= static_cast<uint64_t>(static_cast<unsigned char>(s[i])) << (8 * i);
  }
  return static_cast<int64_t>(u);
}

// Exactly count bytes, or false when the peer goes away first.
bool ReadExactly(platform::PipeHandle pipe, std::string& out, int64_t count) {
  out.clear();
  char buffer[65536];
  while (static_cast<int64_t>(out.size()) < count) {
    const int64_t left = count - static_cast<int64_t>(out.size());
    uint32_t got = 0;
    const uint32_t ask = static_cast<uint32_t>(std::min<int64_t>(left, sizeof(buffer)));
    if (!platform::ReadFile(pipe, buffer, ask, &got) || got == 0) return false;
    out.append(buffer, got);
  }
  return true;
}

std::string Shorten(const std::string& text) {
  std::string out;
  for (char c : text.substr(0, 120))
    out += static_cast<unsigned char>(c) < 0x20 ? '|' : c;
  return text.size() > 120 ? out + "..." : out;
}

std::optional<std::string> CopyDocument(const std::string& document) {
  TMemoryStream content;
  content.LoadFromFile(document);
  const std::string target = UniqueTempFileName() + ".json";
  content.SaveToFile(target);
  return target;
}

}  // namespace

std::string HostUsage() {
  return "Usage: ktx-exchange [options]\n"
         "Stand-in for the Kontorix exchange service: answers OFFICEMETRICS, TAXH, GETJSON,\n"
         "DBPATH and ANYQUERY on a local pipe and names the pipe in\n"
         "KTX-EXCHANGELOCALSERVICE.TXT.\n"
         "  --pipe-name NAME       pipe to listen on (default KontorixExchange)\n"
         "  --data-folder DIR      reply to DBPATH (default <temp>/KXTempDir/KontorixDaten/)\n"
         "  --document FILE        JSON document handed out by GETJSON (default: sample invoice)\n"
         "  --tax-rate TEXT        reply to TAXH (default 19)\n"
         "  --office-metrics TEXT  reply to OFFICEMETRICS (default 60,40,1280,860)\n"
         "  --database FILE        SQLite database that ANYQUERY reads, read-only\n"
         "                         (default <data folder>/Kontorix.sqlite)\n"
         "  --sample               before serving, put the sample invoices (table Auftraege)\n"
         "                         into the database, creating it when missing; a database\n"
         "                         that has the table already is left as it is\n"
         "Stop with Ctrl+C or SIGTERM.\n";
}

bool ParseHostOptions(const std::vector<std::string>& args, THostOptions& options, bool& help,
                      std::string& error) {
  help = false;
  const std::pair<const char*, std::string THostOptions::*> names[] = {
      {"--pipe-name", &THostOptions::pipe_name},
      {"--data-folder", &THostOptions::data_folder},
      {"--document", &THostOptions::document_file},
      {"--tax-rate", &THostOptions::tax_rate},
      {"--office-metrics", &THostOptions::office_metrics},
      {"--database", &THostOptions::database},
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      help = true;
      continue;
    }
    if (arg == "--sample") {
      options.sample = true;
      continue;
    }
    const size_t eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    auto found = std::find_if(std::begin(names), std::end(names),
                              [&](const auto& n) { return name == n.first; });
    if (found == std::end(names)) {
      error = "unknown option: " + arg;
      return false;
    }
    if (eq != std::string::npos) {
      options.*(found->second) = arg.substr(eq + 1);
    } else if (i + 1 < args.size()) {
      options.*(found->second) = args[++i];
    } else {
      error = "missing value for " + name;
      return false;
    }
  }
  return true;
}

THostOptions ResolveHostOptions(THostOptions options) {
  if (options.data_folder.empty()) options.data_folder = TempFolder("KontorixDaten");
  // DBPATH is used in the program's own current folder, so it must not be relative.
  const std::string full = platform::GetFullPathName(options.data_folder);
  if (!full.empty()) options.data_folder = full;
  options.data_folder = IncludePathDelimiter(options.data_folder);
  if (options.database.empty()) {
    options.database = options.data_folder + kDatabaseFileName;
  } else {
    const std::string database = platform::GetFullPathName(options.database);
    if (!database.empty()) options.database = database;
  }
  if (options.document_file.empty()) options.document_file = RB_SAMPLE_DOCUMENT;
  return options;
}

TExchangeHandler::TExchangeHandler(const THostOptions& options) {
  const std::string metrics = options.office_metrics;
  const std::string tax = options.tax_rate;
  const std::string folder = IncludePathDelimiter(options.data_folder);
  const std::string document = options.document_file;
  keys_["OFFICEMETRICS"] = [metrics](const std::string&) { return metrics; };
  keys_["TAXH"] = [tax](const std::string&) { return tax; };
  keys_["DBPATH"] = [folder](const std::string&) { return folder; };
  keys_["GETJSON"] = [document](const std::string&) { return CopyDocument(document); };
}

void TExchangeHandler::SetKey(const std::string& key, TKeyHandler handler) {
  keys_[key] = std::move(handler);
}

std::optional<std::string> TExchangeHandler::Answer(const std::string& key,
                                                    const std::string& data) const {
  auto found = keys_.find(key);
  if (found == keys_.end()) return std::nullopt;
  return found->second(data);
}

TMessageRef TExchangeHandler::AnswerRequest(const TMessageRef& request,
                                            std::string& log_line) const {
  TStreamStorage& in = request->Storage();
  const std::string key = platform::WideToAnsi(in.GetText(u"COMMAND"));
  const std::string data = platform::WideToAnsi(in.GetText(u"DATA"));
  TMessageRef reply = NewMessageData();
  reply->SetMessageId(request->MessageId());
  log_line = key.empty() ? "(no COMMAND)" : key;
  if (!data.empty()) log_line += " [" + Shorten(data) + "]";
  try {
    std::optional<std::string> text = Answer(key, data);
    if (text) {
      reply->Storage().PutText(u"DATA", platform::AnsiToWide(*text));
      log_line += " -> " + Shorten(*text);
    } else {
      log_line += " -> unknown key, no DATA";
    }
  } catch (const std::exception& e) {
    // A failing key (a document that cannot be read) answers without DATA, like the host.
    log_line += std::string(" -> failed: ") + e.what();
  }
  return reply;
}

int ServeConnection(platform::PipeHandle pipe, const TExchangeHandler& handler,
                    const TLogFunction& log) {
  int served = 0;
  std::string field, id, data;
  for (;;) {
    if (!ReadExactly(pipe, field, 8)) break;  // the peer closed without the end marker
    const int64_t id_length = GetInt64(field);
    if (id_length == -1) break;  // end marker
    if (id_length < -1 || id_length > kMaxIdLength) {
      log("bad frame: ID length " + std::to_string(id_length) + ", connection dropped");
      break;
    }
    if (!ReadExactly(pipe, id, std::max<int64_t>(id_length, 0)) || !ReadExactly(pipe, field, 8)) {
      break;
    }
    const int64_t data_size = GetInt64(field);
    if (data_size < 0 || data_size > kMaxDataSize) {
      log("bad frame: data size " + std::to_string(data_size) + ", connection dropped");
      break;
    }
    if (!ReadExactly(pipe, data, data_size)) break;

    TMessageRef request = NewMessageData();
    request->SetMessageId(id);
    request->Storage().Buffer().WriteBuffer(data.data(), data_size);
    request->Storage().Buffer().SetPosition(0);
    std::string line;
    TMessageRef reply = handler.AnswerRequest(request, line);
    log(line);

    const std::string_view body = reply->Storage().Buffer().View();
    const std::string reply_id = reply->MessageId();
    std::string frame = Int64LE(static_cast<int64_t>(reply_id.size())) + reply_id +
                        Int64LE(static_cast<int64_t>(body.size()));
    frame += body;
    uint32_t written = 0;
    if (!platform::WriteFile(pipe, frame.data(), static_cast<uint32_t>(frame.size()), &written)) {
      break;
    }
    ++served;
  }
  return served;
}

TExchangeHost::TExchangeHost(THostOptions options, TLogFunction log)
    : options_(ResolveHostOptions(std::move(options))), log_(std::move(log)), handler_(options_) {
  handler_.SetKey("ANYQUERY", AnyQueryHandler(options_.data_folder, options_.database));
}

TExchangeHost::~TExchangeHost() {
  Shutdown();
}

bool TExchangeHost::Start(std::string& error, const RetryPolicy& retry) {
  if (options_.sample) {
    try {
      ForceDirectories(options_.data_folder);
      const bool created = EnsureSampleDatabase(options_.database);
      log_((created ? "sample database created: " : "database has its table already: ") +
           options_.database);
    } catch (const std::exception& e) {
      error = std::string("cannot make the sample database: ") + e.what();
      return false;
    }
  }
  server_ = platform::PipeServer::Create(options_.pipe_name);
  if (!server_.IsOpen()) {
    const uint32_t code = platform::GetLastError();
    error = "cannot create the pipe \"" + options_.pipe_name + "\": " +
            (code == platform::kErrorAlreadyExists ? "another service is listening on it"
                                                   : platform::SysErrorMessage(code));
    return false;
  }
  try {
    ForceDirectories(options_.data_folder);
    service_file_ = TempFolder() + kLocalServiceFileName;
    SaveListRetry({options_.pipe_name}, service_file_, retry);
  } catch (const std::exception& e) {
    // Nobody would find a pipe that no service file names.
    server_.Close();
    error = std::string("cannot announce the pipe: ") + e.what();
    return false;
  }
  log_("listening on \\\\.\\pipe\\" + options_.pipe_name + " (" + server_.SocketPath() +
       "); service file " + service_file_);
  return true;
}

void TExchangeHost::Run(const std::function<bool()>& stop) {
  while (!stop()) {
    platform::PipeHandle pipe = server_.Accept(kAcceptPollMs);
    if (pipe == platform::kInvalidPipe) {
      // A time-out or a signal: look at stop() again. Anything else (out of descriptors)
      // would come back at once, so give the system a moment.
      if (platform::GetLastError() != platform::kErrorSemTimeout) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      continue;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    try {
      std::thread([this, pipe] { ServeOn(pipe); }).detach();
    } catch (const std::system_error& e) {
      // Out of threads: this client gets a broken pipe, and Shutdown must not wait for a
      // thread that never ran.
      platform::CloseHandle(pipe);
      log_(std::string("cannot serve a connection: ") + e.what());
      continue;
    }
    open_.push_back(pipe);
    ++active_;
  }
}

void TExchangeHost::ServeOn(platform::PipeHandle pipe) {
  // An exception leaving this thread would end the whole service; it ends only this client's
  // connection (a request too large for memory, a handler that fails in an unforeseen way).
  try {
    ServeConnection(pipe, handler_, log_);
  } catch (const std::exception& e) {
    log_(std::string("connection dropped: ") + e.what());
  } catch (...) {
    log_("connection dropped: unknown exception");
  }
  std::lock_guard<std::mutex> lock(mutex_);
  open_.erase(std::find(open_.begin(), open_.end(), pipe));
  platform::CloseHandle(pipe);
  --active_;
  idle_.notify_all();
}

void TExchangeHost::Shutdown() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    for (platform::PipeHandle pipe : open_)
      platform::DisconnectPipe(pipe);
    idle_.wait(lock, [this] { return active_ == 0; });
  }
  if (!server_.IsOpen()) return;
  server_.Close();
  // Another service may have taken the file over since; only our own name is removed.
  std::vector<std::string> lines;
  try {
    LoadListRetry(lines, service_file_);
    if (!lines.empty() && lines.front() == options_.pipe_name) DeleteFileRetry(service_file_);
  } catch (const std::exception& e) {
    log_(std::string("cannot remove the service file: ") + e.what());
  }
  log_("stopped");
}

}  // namespace rb
