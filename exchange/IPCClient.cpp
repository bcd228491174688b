#include "exchange/IPCClient.h"

#include "platform/SysError.h"

namespace rb {

namespace {

constexpr uint32_t kWaitTimeoutCode = 258;

void PutInt64(char* out, int64_t value) {
  auto u = static_cast<uint64_t>(value);
  for (int i = 0; i < 8; ++i)
    out[i] = static_cast<char>((u >> (8 * i)) & 0xFF);
}

int64_t GetInt64(const char* in) {
  uint64_t u = 0;
  for (int i = 0; i < 8; ++i)
    u |= static_cast<uint64_t>(static_cast<unsigned char>(in[i])) << (8 * i);
  return static_cast<int64_t>(u);
}

}  // namespace

TIPCClient::TIPCClient(IPipeApi& api) : api_(api), staging_(new char[kIPCStagingSize]) {}

TIPCClient::~TIPCClient() {
  ClosePipe();
}

void TIPCClient::SetServiceName(const std::string& name) {
  service_name_ = name;
  pipe_path_ = "\\\\" + host_name_ + "\\pipe\\" + service_name_;
}

void TIPCClient::Fail(const char* text, uint32_t code) {
  last_error_text_ = text;
  last_error_code_ = code;
}

void TIPCClient::OpenPipe(uint32_t timeout_ms) {
  ClosePipe();  // a second open must not leak the first handle
  pipe_handle_ = platform::kInvalidPipe;
  connected_ = false;
  reply_received_ = false;  // a reused client must not report the last connection's reply
  last_error_text_.clear();
  last_error_code_ = 0;
  const uint64_t start = api_.TickCount();
  auto elapsed = [&] { return api_.TickCount() - start; };
  while (timeout_ms > elapsed()) {
    pipe_handle_ = api_.CreateFileA(pipe_path_, platform::kGenericRead | platform::kGenericWrite, 0,
                                    platform::kOpenExisting);
    if (pipe_handle_ != platform::kInvalidPipe) {
      connected_ = true;
      if (read_timeout_ms_ != 0) api_.SetPipeTimeout(pipe_handle_, read_timeout_ms_);
      return;
    }
    const uint32_t error = api_.LastError();
    if (error != platform::kErrorFileNotFound && error != platform::kErrorPipeBusy) {
      Fail("CreateFile failed while creating new pipe handle", error);
      return;
    }
    const uint64_t spent = elapsed();
    const uint32_t remaining = spent >= timeout_ms ? 0 : static_cast<uint32_t>(timeout_ms - spent);
    if (!api_.WaitNamedPipeA(pipe_path_, remaining)) {
      Fail("WaitNamedPipe failed while wating for the pipe", api_.LastError());
      return;
    }
  }
  if (pipe_handle_ == platform::kInvalidPipe) {
    Fail("IPC client failed with WAIT timeout", kWaitTimeoutCode);
  }
}

bool TIPCClient::Write(const void* bytes, uint32_t count) {
  uint32_t written = 0;
  return api_.WriteFile(pipe_handle_, bytes, count, &written);
}

bool TIPCClient::ReadSome(char* into, uint32_t count, uint32_t& got) {
  got = 0;
  bool ok = api_.ReadFile(pipe_handle_, into, count, &got);
  if (!ok && api_.LastError() == platform::kErrorMoreData) ok = true;
  if (got > count) got = count;  // a misreporting system must not make us read past the buffer
  if (!ok) {
    last_error_code_ = api_.LastError();
    return false;
  }
  if (got == 0) {
    // A byte pipe blocks until data comes or fails; "success, nothing" would loop forever.
    last_error_code_ = platform::kErrorNoData;
    return false;
  }
  return true;
}

bool TIPCClient::ReadExact(uint32_t count) {
  for (uint32_t have = 0, got = 0; have < count; have += got) {
    if (!ReadSome(staging_.get() + have, count - have, got)) return false;
  }
  return true;
}

void TIPCClient::Exchange(const TMessageRef& request, TMessageRef& reply) {
  reply_received_ = false;
  last_error_code_ = 0;
  reply.Reset();

  TMemoryStream& out = request->Storage().Buffer();
  const int64_t data_size = out.Size();
  out.SetPosition(0);

  const std::string id = request->MessageId();
  std::string head(8 + id.size(), '\0');
  PutInt64(head.data(), static_cast<int64_t>(id.size()));
  head.replace(8, id.size(), id);
  if (!Write(head.data(), static_cast<uint32_t>(head.size()))) {
    return Fail("WriteFile failed while writing message ID", api_.LastError());
  }
  char size_field[8];
  PutInt64(size_field, data_size);
  if (!Write(size_field, 8)) {
    return Fail("WriteFile failed while writing message data size", api_.LastError());
  }
  if (data_size > 0) {
    for (;;) {
      const int64_t n = out.Read(staging_.get(), kIPCStagingSize);
      if (n <= 0) break;
      if (!Write(staging_.get(), static_cast<uint32_t>(n))) {
        return Fail("WriteFile failed while writing message chunk", api_.LastError());
      }
    }
  }

  reply = NewMessageData();
  TMemoryStream& in = reply->Storage().Buffer();

  if (!ReadExact(8))
    return Fail("ReadFile failed while reading message ID length", last_error_code_);
  const int64_t id_length = GetInt64(staging_.get());
  if (id_length > 0) {
    // Taken in staging-sized pieces: an absurd length costs only what actually arrives.
    std::string reply_id;
    for (int64_t left = id_length; left > 0;) {
      const uint32_t piece = left > kIPCStagingSize ? kIPCStagingSize : static_cast<uint32_t>(left);
      if (!ReadExact(piece))
        return Fail("ReadFile failed while reading message ID", last_error_code_);
      reply_id.append(staging_.get(), piece);
      left -= piece;
    }
    reply->SetMessageId(reply_id);
  }
  if (!ReadExact(8)) {
    return Fail("ReadFile failed while reading message data size", last_error_code_);
  }
  const int64_t reply_size = GetInt64(staging_.get());
  int64_t total = 0;
  while (reply_size > 0 && total < reply_size) {
    uint32_t got = 0;
    const bool ok = ReadSome(staging_.get(), kIPCStagingSize, got);
    const int64_t wanted = reply_size - total;
    in.WriteBuffer(staging_.get(), got < wanted ? got : wanted);
    total += got;
    if (!ok) return Fail("ReadFile failed while reading message data", last_error_code_);
    if (total > reply_size) {
      return Fail("ReadFile failed while reading message data", platform::kErrorInvalidData);
    }
  }
  in.SetPosition(0);
  reply_received_ = true;
}

void TIPCClient::ClosePipe() {
  if (pipe_handle_ == platform::kInvalidPipe) return;
  char end_marker[8];
  PutInt64(end_marker, -1);
  Write(end_marker, 8);  // the service may already be gone; nothing to do about it
  api_.CloseHandle(pipe_handle_);
  pipe_handle_ = platform::kInvalidPipe;
  connected_ = false;
}

void TIPCClient::Transact(const TMessageRef& request, uint32_t timeout_ms, TMessageRef& reply) {
  reply.Reset();  // an out-parameter: after a failed open it holds no earlier reply
  OpenPipe(timeout_ms);
  if (connected_) {
    try {
      Exchange(request, reply);
    } catch (...) {
      ClosePipe();
      throw;
    }
  }
  ClosePipe();
}

}  // namespace rb
