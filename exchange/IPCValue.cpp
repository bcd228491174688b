#include "exchange/IPCValue.h"

#include <new>
#include <vector>

#include "platform/CodePage.h"
#include "platform/System.h"
#include "util/Files.h"

namespace rb {

TMessageRef NewRequestMessage(const std::string& key, const std::string& data) {
  TMessageRef request = NewMessageData();
  TStreamStorage& storage = request->Storage();
  storage.PutText(u"COMMAND", platform::AnsiToWide(key));
  storage.PutInteger(u"INDEX", -1);
  storage.PutText(u"DATA", platform::AnsiToWide(data));
  storage.PutBoolean(u"SYNC", true);
  return request;
}

std::string QueryIPCValueOnce(const std::string& key, const std::string& service_name,
                              bool& answered, const std::string& data,
                              const TIPCSettings& settings) {
  answered = false;
  try {
    TIPCClient client(*settings.pipes);
    client.SetServiceName(service_name);
    client.SetReadTimeout(settings.read_timeout_ms);
    TMessageRef request = NewRequestMessage(key, data);
    TMessageRef reply;
    client.Transact(request, settings.open_timeout_ms, reply);
    std::string text;
    if (reply) text = platform::WideToAnsi(reply->Storage().GetText(u"DATA"));
    answered = client.ReplyReceived();
    return text;
  } catch (const std::bad_alloc&) {
    // Memory ran out on the way (a huge key or reply): this try is unanswered, like any other
    // that brought nothing back.
    return std::string();
  }
}

RetryPolicy IPCRetry() {
  RetryPolicy policy;
  policy.attempts = kIPCTries;
  policy.pause_ms = kIPCRetryPauseMs;
  return policy;
}

std::string ReadLocalServiceName() {
  const std::string path = TempFolder() + kLocalServiceFileName;
  std::vector<std::string> lines;
  LoadListRetry(lines, path);  // a missing file leaves no lines
  return lines.empty() ? std::string() : lines.front();
}

std::string ReadIPCValueSync(const std::string& key, bool raise_on_failure, const std::string& data,
                             const TIPCSettings& settings) {
  std::string reply;
  const std::string service_name = ReadLocalServiceName();
  // Not RetryCall: an unanswered try raises nothing, and the pause follows the last try too.
  for (int attempt = 0; attempt < settings.retry.attempts; ++attempt) {
    bool answered = false;
    reply = QueryIPCValueOnce(key, service_name, answered, data, settings);
    if (raise_on_failure && !answered) {
      throw TIPCClientException("ReadIPCValueSync: Der Server " + service_name +
                                " antwortet nicht");
    }
    if (answered) break;
    settings.retry.Pause();
  }
  return reply;
}

std::string ReadIPCValue(const std::string& key, const TIPCSettings& settings) {
  return ReadIPCValueSync(key, false, "", settings);
}

}  // namespace rb
