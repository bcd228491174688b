#include "exchange/IPCClient.h"

#include "exchange/Frame.h"
#include "platform/SysError.h"

namespace rb {

namespace {

constexpr uint32_t kWaitTimeoutCode = 258;

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
      deadline_ = api_.TickCount() + read_timeout_ms_;
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

bool TIPCClient::ArmTimeout() {
  if (read_timeout_ms_ == 0) return true;
  const uint64_t now = api_.TickCount();
  if (now >= deadline_) {
    last_error_code_ = platform::kErrorSemTimeout;
    return false;
  }
  const uint64_t left = deadline_ - now;
  api_.SetPipeTimeout(pipe_handle_, left > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(left));
  return true;
}

bool TIPCClient::Write(const void* bytes, uint32_t count) {
  if (!ArmTimeout()) return false;
  uint32_t written = 0;
  if (api_.WriteFile(pipe_handle_, bytes, count, &written)) return true;
  last_error_code_ = api_.LastError();
  return false;
}

bool TIPCClient::ReadSome(char* into, uint32_t count, uint32_t& got) {
  got = 0;
  if (!ArmTimeout()) return false;
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

  const std::string head = FrameHead(request->MessageId());
  if (!Write(head.data(), static_cast<uint32_t>(head.size()))) {
    return Fail("WriteFile failed while writing message ID", last_error_code_);
  }
  const std::string size_field = FrameInt(data_size);
  if (!Write(size_field.data(), kFrameIntSize)) {
    return Fail("WriteFile failed while writing message data size", last_error_code_);
  }
  if (data_size > 0) {
    for (;;) {
      const int64_t n = out.Read(staging_.get(), kIPCStagingSize);
      if (n <= 0) break;
      if (!Write(staging_.get(), static_cast<uint32_t>(n))) {
        return Fail("WriteFile failed while writing message chunk", last_error_code_);
      }
    }
  }

  reply = NewMessageData();
  TMemoryStream& in = reply->Storage().Buffer();

  if (!ReadExact(8))
    return Fail("ReadFile failed while reading message ID length", last_error_code_);
  const int64_t id_length = ReadFrameInt(staging_.get());
  if (FrameIdTooLong(id_length)) {
    return Fail("ReadFile failed while reading message ID", platform::kErrorInvalidData);
  }
  if (id_length > 0) {
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
  const int64_t reply_size = ReadFrameInt(staging_.get());
  if (FrameDataTooLarge(reply_size)) {
    return Fail("ReadFile failed while reading message data size", platform::kErrorInvalidData);
  }
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
  // The service may already be gone or have stopped reading; nothing to do about it. Past the
  // try's deadline the marker still gets a moment, never a new full bound.
  if (read_timeout_ms_ != 0 && api_.TickCount() >= deadline_) deadline_ = api_.TickCount() + 1;
  const std::string end_marker = FrameEndMarker();
  const uint32_t code = last_error_code_;
  Write(end_marker.data(), kFrameIntSize);
  last_error_code_ = code;
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
