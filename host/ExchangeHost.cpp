#include "host/ExchangeHost.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>

#include "exchange/Frame.h"
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

constexpr int kAcceptPollMs = 100;
constexpr size_t kLogTextLimit = 120;

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

// 8-bit text as UTF-8, through the code page's UTF-16.
std::string AnsiToUtf8(const std::string& text) {
  std::string out;
  for (char16_t u : platform::AnsiToWide(text)) {
    if (u < 0x80) {
      out += static_cast<char>(u);
    } else if (u < 0x800) {
      out += static_cast<char>(0xC0 | (u >> 6));
      out += static_cast<char>(0x80 | (u & 0x3F));
    } else {  // Windows-1252 maps to the basic plane only, never to surrogates
      out += static_cast<char>(0xE0 | (u >> 12));
      out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  return out;
}

// Whether a service listens on the pipe NAME now (asked without connecting to it).
bool PipeListens(const std::string& name) {
  return platform::WaitNamedPipeA("\\\\.\\pipe\\" + name, 0) ||
         platform::GetLastError() != platform::kErrorFileNotFound;
}

std::optional<std::string> CopyDocument(const std::string& document, TDocumentCopies& copies) {
  TMemoryStream content;
  content.LoadFromFile(document);
  const std::string target = UniqueTempFileName() + ".json";
  copies.Add(target);
  content.SaveToFile(target);
  return target;
}

}  // namespace

std::string LogText(const std::string& text) {
  std::string cut;
  for (size_t i = 0; i < text.size() && i < kLogTextLimit; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F || c == '\\') {
      static const char kHex[] = "0123456789ABCDEF";
      cut += c == '\\' ? std::string("\\\\") : std::string("\\x") + kHex[c >> 4] + kHex[c & 15];
    } else {
      cut += static_cast<char>(c);
    }
  }
  std::string out = AnsiToUtf8(cut);
  if (text.size() > kLogTextLimit) out += "... (" + std::to_string(text.size()) + " bytes)";
  return out;
}

bool IsValidPipeName(const std::string& name) {
  return !name.empty() && std::none_of(name.begin(), name.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
  });
}

void TDocumentCopies::Add(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  paths_.push_back(path);
}

int TDocumentCopies::DeleteLeft() {
  std::vector<std::string> paths;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    paths.swap(paths_);
  }
  int deleted = 0;
  for (const std::string& path : paths) {
    // The requester deletes its copy as a rule; only what is still there is ours to remove.
    if (FileExists(path) && platform::DeleteFile(path)) ++deleted;
  }
  return deleted;
}

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
  std::shared_ptr<TDocumentCopies> copies = copies_;
  keys_["GETJSON"] = [document, copies](const std::string&) {
    return CopyDocument(document, *copies);
  };
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
  log_line = key.empty() ? "(no COMMAND)" : LogText(key);
  if (!data.empty()) log_line += " [" + LogText(data) + "]";
  try {
    std::optional<std::string> text = Answer(key, data);
    if (text) {
      reply->Storage().PutText(u"DATA", platform::AnsiToWide(*text));
      log_line += " -> " + LogText(*text);
    } else {
      log_line += " -> unknown key, no DATA";
    }
  } catch (const std::exception& e) {
    // A failing key (a document that cannot be read) answers without DATA, like the host.
    log_line += " -> failed: " + LogText(e.what());
  }
  return reply;
}

bool TRequestBudget::Take(int64_t bytes) {
  int64_t held = held_.load();
  do {
    if (bytes > limit_ - held) return false;
  } while (!held_.compare_exchange_weak(held, held + bytes));
  return true;
}

void TRequestBudget::Give(int64_t bytes) {
  held_ -= bytes;
}

int ServeConnection(platform::PipeHandle pipe, const TExchangeHandler& handler,
                    const TLogFunction& log, TRequestBudget* budget) {
  int served = 0;
  std::string field, id, data;
  for (;;) {
    if (!ReadExactly(pipe, field, kFrameIntSize)) break;  // closed, or idle past the bound
    const int64_t id_length = ReadFrameInt(field.data());
    if (id_length == kFrameEndMarker) break;
    if (id_length < kFrameEndMarker || FrameIdTooLong(id_length)) {
      log("bad frame: ID length " + std::to_string(id_length) + ", connection dropped");
      break;
    }
    if (!ReadExactly(pipe, id, std::max<int64_t>(id_length, 0)) ||
        !ReadExactly(pipe, field, kFrameIntSize)) {
      break;
    }
    const int64_t data_size = ReadFrameInt(field.data());
    if (data_size < 0 || FrameDataTooLarge(data_size)) {
      log("bad frame: data size " + std::to_string(data_size) + ", connection dropped");
      break;
    }
    // What unfinished requests hold is bounded across all connections: a few large requests at
    // once must not take the service's memory.
    if (budget != nullptr && !budget->Take(data_size)) {
      log("request of " + std::to_string(data_size) +
          " bytes refused: too much held by unfinished requests, connection dropped");
      break;
    }
    struct Release {
      TRequestBudget* budget;
      int64_t bytes;
      ~Release() {
        if (budget != nullptr) budget->Give(bytes);
      }
    } release{budget, data_size};
    data.clear();
    data.shrink_to_fit();
    data.reserve(static_cast<size_t>(data_size));  // no doubling beyond what was announced
    if (!ReadExactly(pipe, data, data_size)) break;

    TMessageRef request = NewMessageData();
    request->SetMessageId(id);
    request->Storage().Buffer().WriteBuffer(data.data(), data_size);
    request->Storage().Buffer().SetPosition(0);
    std::string line;
    TMessageRef reply = handler.AnswerRequest(request, line);
    log(line);

    const std::string frame = EncodeFrame(reply->MessageId(), reply->Storage().Buffer().View());
    uint32_t written = 0;
    if (!platform::WriteFile(pipe, frame.data(), static_cast<uint32_t>(frame.size()), &written)) {
      break;
    }
    ++served;
  }
  return served;
}

TExchangeHost::TExchangeHost(THostOptions options, TLogFunction log, THostLimits limits)
    : options_(ResolveHostOptions(std::move(options))),
      log_(std::move(log)),
      limits_(limits),
      handler_(options_),
      budget_(limits.max_pending_bytes) {
  handler_.SetKey("ANYQUERY", AnyQueryHandler(options_.data_folder, options_.database));
}

TExchangeHost::~TExchangeHost() {
  Shutdown();
}

bool TExchangeHost::Start(std::string& error, const RetryPolicy& retry) {
  // The name becomes the service file's first line: a line break would announce another name.
  if (!IsValidPipeName(options_.pipe_name)) {
    error = "cannot create the pipe \"" + LogText(options_.pipe_name) +
            "\": a pipe name holds no line break or other control character";
    return false;
  }
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
    // A service already announced there gets its announcement back when this one stops.
    std::vector<std::string> lines;
    LoadListRetry(lines, service_file_, retry);
    if (!lines.empty() && lines.front() != options_.pipe_name) previous_name_ = lines.front();
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
    {
      // At the thread limit further clients wait in the pipe's queue (and see it busy) until a
      // connection ends.
      std::unique_lock<std::mutex> lock(mutex_);
      if (active_ >= limits_.max_connections) {
        idle_.wait_for(lock, std::chrono::milliseconds(kAcceptPollMs));
        continue;
      }
    }
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
    // A connection that sends nothing for the bound is closed: idle ones must not pile up until
    // the service runs out of descriptors.
    if (limits_.idle_timeout_ms != 0) platform::SetPipeTimeout(pipe, limits_.idle_timeout_ms);
    ServeConnection(pipe, handler_, log_, &budget_);
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
  const int left = handler_.Copies().DeleteLeft();
  if (left > 0) log_("deleted " + std::to_string(left) + " document copies nobody took");
  // Another service may have taken the file over since; only our own name is removed, and the
  // service we took it over from, when it still listens, is announced again.
  std::vector<std::string> lines;
  try {
    LoadListRetry(lines, service_file_);
    if (!lines.empty() && lines.front() == options_.pipe_name) {
      if (!previous_name_.empty() && PipeListens(previous_name_)) {
        SaveListRetry({previous_name_}, service_file_);
      } else {
        DeleteFileRetry(service_file_);
      }
    }
  } catch (const std::exception& e) {
    log_("cannot remove the service file: " + LogText(e.what()));
  }
  log_("stopped");
}

}  // namespace rb
