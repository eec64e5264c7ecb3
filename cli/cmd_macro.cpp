// vdx macro [--dbus] TEXT...: the client a cron job or a shell script
// drives a running Vardex with. Each macro goes through the conversation
// socket (or, with --dbus, the automation object on the session bus); each
// answer is printed on a line of its own. vdx macro --advise prints every
// change of the shared result item until it is interrupted.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <ostream>

#include "Command.h"
#include "MacroClient.h"
#include "tlRuntime.h"

namespace {

constexpr char kUsage[] = "usage: vdx macro [--dbus] TEXT...\n       vdx macro --advise\n";

class TSocketClient {
 public:
  ~TSocketClient() {
    if (fd_ >= 0) ::close(fd_);
  }

  bool Connect(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path)) return false;
    std::memcpy(address.sun_path, path.data(), path.size());
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      return false;
    }
    std::string reply;
    return Send("CONNECT MacroServer\n") && ReadLine(&reply) && reply == "OK";
  }

  bool Send(const std::string& data) {
    for (std::size_t done = 0; done < data.size();) {
      const ssize_t n = ::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

  // One line without its CR LF; false at the end of the conversation.
  bool ReadLine(std::string* line) {
    for (;;) {
      const std::size_t end = buffer_.find('\n');
      if (end != std::string::npos) {
        *line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        if (!line->empty() && line->back() == '\r') line->pop_back();
        return true;
      }
      char chunk[4096];
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) return false;
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }

  // The answer of one execute: the text the macro put into the item.
  bool Execute(const std::string& text, std::string* answer) {
    const bool one_line = text.find_first_of("\r\n") == std::string::npos;
    if (!Send(one_line ? "EXECUTE " + text + "\n"
                       : "EXECDATA " + std::to_string(text.size()) + "\n" + text)) {
      return false;
    }
    std::string line;
    while (ReadLine(&line)) {
      if (line.rfind("OK ", 0) == 0 || line == "OK") {
        *answer = line.size() > 3 ? line.substr(3) : std::string();
        return true;
      }
      if (line.rfind("ERROR ", 0) == 0) {
        *answer = line.substr(6);
        return true;
      }
    }
    return false;
  }

 private:
  int fd_ = -1;
  std::string buffer_;
};

std::string SocketPath() {
  const std::string folder = UserRuntimeFolder();
  return folder.empty() ? std::string() : folder + "/Vdx32.MacroServer";
}

int NoVardex(std::ostream& err, const std::string& where) {
  err << "vdx: no Vardex answers on " << where
      << "\nStart one for macros with `Vdx32 MACROSERVER` (as the same user), or register the "
         "automation object with `Vdx32 -REGSERVER` and use --dbus.\n";
  return 2;
}

int Advise(std::ostream& out, std::ostream& err) {
  TSocketClient client;
  const std::string path = SocketPath();
  if (!client.Connect(path)) return NoVardex(err, path);
  std::string line;
  if (!client.Send("ADVISE MacroResult\n") || !client.ReadLine(&line) || line != "OK") {
    err << "vdx: the conversation refused to advise\n";
    return 1;
  }
  while (client.ReadLine(&line)) {
    if (line.rfind("CHANGED ", 0) == 0) out << line.substr(8) << std::endl;
  }
  return 0;  // Vardex ended
}

int Macro(const vdx::Args& args, std::ostream& out, std::ostream& err) {
  bool dbus = false, advise = false;
  vdx::Args texts;
  for (const std::string& arg : args) {
    if (arg == "--dbus") {
      dbus = true;
    } else if (arg == "--advise") {
      advise = true;
    } else {
      texts.push_back(arg);
    }
  }
  if (advise) {
    if (dbus || !texts.empty()) {
      err << kUsage;
      return 2;
    }
    return Advise(out, err);
  }
  if (texts.empty()) {
    err << kUsage;
    return 2;
  }
  std::vector<std::string> answers;
  if (dbus) {
    std::string failure;
    const int status = vdx::ExecuteOverDBus(texts, &answers, &failure);
    if (status == 2) return NoVardex(err, "the session bus (" + failure + ")");
    if (status != 0) {
      err << "vdx: " << failure << "\n";
      return 2;
    }
  } else {
    TSocketClient client;
    const std::string path = SocketPath();
    if (!client.Connect(path)) return NoVardex(err, path);
    for (const std::string& text : texts) {
      std::string answer;
      if (!client.Execute(text, &answer)) {
        err << "vdx: Vardex ended the conversation\n";
        return 1;
      }
      answers.push_back(answer);
    }
  }
  bool all_good = true;
  for (const std::string& answer : answers) {
    out << answer << "\n";
    all_good = all_good && vdx::IsGoodMacroAnswer(answer);
  }
  return all_good ? 0 : 1;
}

}  // namespace

VDX_COMMAND("macro", "macro [--dbus] TEXT...   send macros to a running Vardex, print the answers",
            Macro);
