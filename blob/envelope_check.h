#pragma once
// A close look at one stored value: is it plain, a sound envelope, or an
// envelope that no reader can turn back into its plain bytes? Readers take a
// damaged envelope for plain bytes and say nothing; a DBA who asks wants to
// know, and why. The payload is decoded in pieces and thrown away, so the check
// holds one piece of output at a time, whatever the plain length.

#include <cstdint>
#include <string>
#include <string_view>

namespace tersify {

enum class StoredForm {
  Plain,       // no envelope header: the value's own bytes
  Compressed,  // an envelope that decodes completely to the length its header gives
  Damaged,     // an envelope header, but no reader gets the plain bytes back
};

struct EnvelopeCheck {
  StoredForm form = StoredForm::Plain;
  // For Compressed and Damaged: the length the header gives.
  int64_t header_length = 0;
  // For Compressed: the decoded length. For Damaged: the bytes decoded before
  // the fault.
  int64_t plain_length = 0;
  // For Damaged: what is wrong, in words ("the payload is cut short after 812
  // of 4096 bytes").
  std::string reason;
};

// A value carries an envelope header when it has at least 16 bytes, begins with
// the signature and names one of the four algorithm letters; anything else is
// plain. A Z payload is sound when it is one complete zlib stream, its Adler-32
// matches, nothing follows it, it decodes to at least one byte and to exactly
// the header's length. B, P and M payloads cannot be read by this tool.
EnvelopeCheck CheckStoredValue(std::string_view stored);

}  // namespace tersify
