// Runs one tool of the main window on one database, as the menu does, and
// exits with the run's result (its ordinal; 0 for success). The tool-run
// fault tests start it as a separate program so that it can be killed, run
// out of disk or hold a lock as another program would:
//
//   fault_runner ALIAS LETTER [FAULT N]
//
// FAULT at the N-th restructure or pack request of the run: "kill" (the
// process dies on the spot; N = 0: at the end message, before the log
// record), "cancel" (Cancel is pressed and the question answered No), "lock"
// (the live table of that request is locked as another program would).
// Every other question is answered Yes. VARDEX_HOME names the program folder.
// VARDEX_FAIL_WRITES_AFTER=N makes every write of the run fail, as a full
// disk would, once N bytes are written.
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "Env.h"
#include "FaultInjectionEnv.h"
#include "cpTbTool.h"
#include "fmPrgrss.h"
#include "fmVdx.h"

int main(int argc, char** argv) {
  // Never destroyed: files closed while the program exits still use it.
  if (const char* budget = std::getenv("VARDEX_FAIL_WRITES_AFTER"); budget && *budget) {
    auto* full_disk = new engine::FaultInjectionEnv(engine::Env::Default());
    full_disk->FailWritesAfter(std::strtoll(budget, nullptr, 10));
    engine::Env::SetDefault(full_disk);
  }
  QApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: fault_runner ALIAS LETTER [FAULT N]\n");
    return 100;
  }
  const QString alias = argv[1];
  const char letter = argv[2][0];
  const QString fault = argc > 3 ? argv[3] : "";
  const int at = argc > 4 ? std::atoi(argv[4]) : 0;

  TFormVardex form({});
  form.TerminateHandler = [] {};
  form.MessageHandler = [&](const TMessageRequest& m) {
    std::fprintf(stderr, "message: %s | %s\n", qPrintable(m.Keys.join('+')), qPrintable(m.Detail));
    if (fault == "kill" && at == 0 && m.Key != "AreYouSure") std::raise(SIGKILL);
    if (m.Kind != mkConfirmation) return QMessageBox::Ok;
    return fault == "cancel" && m.Key == "NotFinished" ? QMessageBox::No : QMessageBox::Yes;
  };
  int requests = 0;
  form.TableTools().OnRestructureRequest = [&](const CRTblDesc& request) {
    if (++requests != at) return;
    if (fault == "kill") std::raise(SIGKILL);
    if (fault == "cancel") FormProgress()->ButtonCancelClick();
    if (fault == "lock") {
      // A lock of another open file description conflicts with the
      // engine's own, as another program's would; held until the exit.
      const QString live = form.Run().DatabaseFolder() + '/' + QString(request.szTblName);
      const int fd = ::open(live.toLocal8Bit().constData(), O_RDWR | O_CLOEXEC);
      struct flock lock {};
      lock.l_type = F_WRLCK;
      if (fd < 0 || ::fcntl(fd, F_OFD_SETLK, &lock) != 0) std::perror("fault_runner: lock");
    }
  };
  form.FormActivate();
  form.SelectAliasByName(alias);
  if (form.CurrentAlias.isEmpty()) return 101;
  form.ToolMenuItem(ToolFromLetter(letter))->trigger();
  return form.Run().LastResult();
}
