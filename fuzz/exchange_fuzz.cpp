// A reply from the exchange service: the input is what the pipe delivers after the request has
// gone out. The client reads the frame, and the reply's storage is asked for the entries the
// program uses, twice, so that both the lazy scan and the name index answer.
#include <algorithm>
#include <cstdint>
#include <string>

#include "exchange/FakePipeApi.h"
#include "exchange/IPCClient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  rb::TFakePipeApi api;
  api.open_errors.push_back(0);
  // The first byte splits the delivery into reads of that many bytes (0: one read).
  const size_t piece = data[0] == 0 ? size : data[0];
  for (size_t at = 1; at < size; at += piece) {
    api.reads.push_back(rb::TFakePipeApi::Data(
        std::string(reinterpret_cast<const char*>(data + at), std::min(piece, size - at))));
  }
  rb::TIPCClient client(api);
  client.SetServiceName("Fuzz");
  rb::TMessageRef request = rb::NewMessageData();
  request->Storage().PutText(u"COMMAND", u"GETJSON");
  request->Storage().PutInteger(u"INDEX", -1);
  request->Storage().PutBoolean(u"SYNC", true);
  rb::TMessageRef reply;
  client.Transact(request, 5000, reply);
  if (!reply) return 0;  // the request did not go out
  rb::TStreamStorage& storage = reply->Storage();
  const int64_t total = storage.Buffer().Size();
  for (int round = 0; round < 2; ++round) {
    for (const char16_t* name : {u"DATA", u"COMMAND", u"INDEX", u"SYNC", u"", u"MISSING"}) {
      const std::u16string text = storage.GetText(name);
      if (static_cast<int64_t>(2 * text.size()) > total) __builtin_trap();
      int64_t value_size = -1;
      if (storage.FindEntry(name, value_size)) {
        const int64_t at = storage.Buffer().Position();
        if (value_size < 0 || at < 0 || at + value_size > total) __builtin_trap();
      }
    }
  }
  return 0;
}
