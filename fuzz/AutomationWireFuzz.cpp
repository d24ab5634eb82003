// Fuzz target: the automation server's message decoder. Arbitrary bytes, read as a stream of
// frames, must never crash it; every frame it accepts encodes back to exactly its bytes, and
// every shorter prefix of an accepted frame is reported as incomplete.
#include <algorithm>
#include <optional>
#include <span>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "platform/win/AutomationWire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace veskmath::fuzz;
  namespace wire = veskmath::win::wire;
  std::span<const uint8_t> buffer(data, data ? size : 0);
  while (!buffer.empty()) {
    wire::DecodeResult result;
    LibraryCall("DecodeFrame", [&] { result = wire::DecodeFrame(buffer); });
    if (result.status == wire::FrameStatus::Incomplete) {
      Require(result.size == 0 && !result.message, "DecodeFrame", "an incomplete frame has a size");
      return 0;
    }
    if (result.status == wire::FrameStatus::Oversized) {
      Require(!result.message, "DecodeFrame", "an oversized frame has a message");
      return 0;
    }
    Require(result.size >= wire::kFrameHeaderSize && result.size <= buffer.size() &&
                result.size - wire::kFrameHeaderSize <= wire::kMaxFramePayload,
            "DecodeFrame", "the frame size is out of range");
    if (result.status == wire::FrameStatus::Complete) {
      Require(result.message.has_value(), "DecodeFrame", "a complete frame has no message");
      std::optional<std::vector<uint8_t>> encoded;
      LibraryCall("EncodeFrame", [&] { encoded = wire::EncodeFrame(*result.message); });
      Require(encoded && encoded->size() == result.size &&
                  std::equal(encoded->begin(), encoded->end(), buffer.begin()),
              "EncodeFrame", "the decoded message does not encode to its frame");
      for (size_t cut = 0; cut < result.size; cut += 1 + cut / 8) {
        const wire::DecodeResult part = wire::DecodeFrame(buffer.first(cut));
        Require(part.status == wire::FrameStatus::Incomplete, "DecodeFrame",
                "a truncated frame is not incomplete");
      }
    } else {
      Require(result.status == wire::FrameStatus::Malformed && !result.message, "DecodeFrame",
              "an unknown status");
    }
    buffer = buffer.subspan(result.size);
  }
  return 0;
}
