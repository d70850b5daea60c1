// The protocol trace of the line channel (option DEBUG): every command line
// sent and every reply line received, on standard error, with passwords,
// tokens and AUTH strings replaced by "********". Message contents are not
// traced, only the dialogue.
#pragma once

#include <string>
#include <string_view>

namespace zel {

class ProtocolTrace {
 public:
  void SetOn(bool on) { on_ = on; }
  bool On() const { return on_; }

  // A line the client sent (without CR LF).
  void Sent(std::string_view line);
  // A line the server sent (without CR LF).
  void Received(std::string_view line);

  // The form of a sent line the trace shows: a secret argument of PASS,
  // APOP, AUTH, AUTHENTICATE and LOGIN, and every line answering a
  // server's challenge ("+ ", "334 "), replaced by "********".
  static std::string Masked(std::string_view line, bool challenged);

 private:
  void Write(const char* direction, std::string_view line);
  bool on_ = false;
  bool challenged_ = false;  // the last reply asked for an AUTH response
};

}  // namespace zel
