// Program start of Vdx32: one instance per user, the main window, the start
// window in interactive mode, then the message loop.
#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "AutomationRegistration.h"
#include "ProgramFolder.h"
#include "SingleInstance.h"
#include "StartSwitches.h"
#include "coOLEMacro.h"
#include "cpDdeMac.h"
#include "fmVdx.h"
#include "fmVdxSplash.h"

namespace {

int HandleRegistration(TRegistrationSwitch kind, const char* program) {
  QString error;
  const bool done = kind == TRegistrationSwitch::Register
                        ? RegisterAutomationServer(QString::fromLocal8Bit(program), &error)
                        : UnregisterAutomationServer(&error);
  if (!done) std::fprintf(stderr, "Vdx32: %s\n", qPrintable(error));
  return done ? 0 : 1;
}

QStringList RawParams(int argc, char** argv) {
  QStringList params;
  for (int i = 1; i < argc; ++i) params << QString::fromLocal8Bit(argv[i]);
  return params;
}

// Without a display Qt would abort with a message of its own; say what to do.
bool DisplayMissing(const QStringList& params) {
  return qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
         qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !params.contains("-platform");
}

// -EMBEDDING or -AUTOMATION anywhere on the line (after "-" or "/", any
// case): the automation host started the program for a client.
bool IsAutomationStart(const QStringList& params) {
  for (const QString& param : params) {
    if (param.size() < 2 || (param[0] != '-' && param[0] != '/')) continue;
    const QString word = param.mid(1).toUpper();
    if (word == "EMBEDDING" || word == "AUTOMATION") return true;
  }
  return false;
}

bool AskAutomationWarning(QWidget* parent) {
  QMessageBox box(QMessageBox::Warning, "Automation Warning",
                  "This application has been launched via Automation, and one or more clients "
                  "currently have references to this application.  This application should be "
                  "closed from a client, and manually closing this application will likely cause "
                  "your client application(s) to fail.\r\n\r\nAre you sure you want to close "
                  "this application?",
                  QMessageBox::Yes | QMessageBox::No, parent);
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

// After an automation start the program ends once the last client has
// left; a run in progress is finished first.
void CloseWhenIdle(TFormVardex* form) {
  form->RequestClose();
  if (form->ToolRunning) QTimer::singleShot(1000, form, [form] { CloseWhenIdle(form); });
}

// A second start: a plain one brings the first forward and ends with 0; a
// tool request is run by the first, and this start ends with that run's
// code. A request that reaches no running program never counts as done.
int HandOverToFirst(const TSingleInstance& instance, const QStringList& params) {
  const QString first = params.value(0).toUpper();
  if (params.isEmpty() || first == "MACROSERVER" || first == "-EMBEDDING") {
    instance.AskFirstToComeForward();
    return 0;
  }
  TToolRequest request;
  QString error;
  if (!ReadToolRequest(params, &request, &error)) {
    std::fprintf(stderr, "Vdx32: %s\n", qPrintable(error));
    return TFormVardex::kExitBadCommandLine;
  }
  const TForwardedRun run = instance.AskFirstToRun(request.Alias, request.Letter);
  if (run.Code < 0) {
    std::fprintf(stderr,
                 "Vdx32: Vardex is running, but did not take the request to run %s on %s "
                 "or ended before its result; nothing is known to have run.\n",
                 qPrintable(QString(request.Letter)), qPrintable(request.Alias));
    return trError;
  }
  if (run.Code != 0) {
    std::fprintf(stderr, "Vdx32: the running Vardex answered %s\n", qPrintable(run.Answer));
  }
  return run.Code;
}

}  // namespace

int main(int argc, char** argv) {
  if (int code = AnswerInformationSwitch(RawParams(argc, argv), stdout); code >= 0) return code;
  // Registration ends at once, whether or not the program is running.
  if (auto kind = FindRegistrationSwitch(RawParams(argc, argv));
      kind != TRegistrationSwitch::None) {
    return HandleRegistration(kind, argv[0]);
  }
  TSingleInstance instance("Vdx32");
  if (!instance.Claim()) return HandOverToFirst(instance, RawParams(argc, argv));
  if (DisplayMissing(RawParams(argc, argv))) {
    std::fprintf(stderr,
                 "Vdx32: there is no display (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                 "Start it on a virtual display: xvfb-run -a %s; the headless companion is vdx.\n",
                 argv[0]);
    return 2;
  }
  QString folder_error;
  SettleProgramFolder(&folder_error);
  if (!folder_error.isEmpty()) std::fprintf(stderr, "Vdx32: %s\n", qPrintable(folder_error));

  QApplication app(argc, argv);
  app.setApplicationName("Vdx32");
  app.setApplicationDisplayName(TFormVardex::kTitle);
  TFormVardex form(app.arguments().mid(1));
  instance.Listen([&form] { form.BringForward(); },
                  [&form](const QString& alias, QChar letter, auto reply) {
                    form.BringForward();
                    // Out of the socket's handler: the run lets events through.
                    QTimer::singleShot(0, &form, [&form, alias, letter, reply] {
                      const QString answer = form.RunForwardedRequest(alias, letter);
                      reply(ExitCodeOfMacroAnswer(answer), answer);
                    });
                  });
  // The macro channels: the conversation named by the program file's name
  // (up to its first dot) and the automation object on the session bus.
  const QString service = QFileInfo(QString::fromLocal8Bit(argv[0])).fileName().section('.', 0, 0);
  if (!form.MacroServer()->Listen(service)) {
    std::fprintf(stderr, "Vdx32: the macro conversation cannot listen on %s\n",
                 qPrintable(TZelMacroServer::SocketPathFor(service, "MacroServer")));
  }
  TOLEMacro automation;
  automation.Register();
  if (IsAutomationStart(app.arguments().mid(1))) {
    automation.OnLastClientGone = [&form] { CloseWhenIdle(&form); };
    form.AutomationCloseQuery = [&form, &automation] {
      return automation.ClientCount() == 0 || AskAutomationWarning(&form);
    };
  }

  std::unique_ptr<TFormVdxSplash> splash;
  if (form.InteractiveMode) {
    splash = std::make_unique<TFormVdxSplash>(TFormVardex::kTitle);
    splash->show();
    splash->repaint();
    app.processEvents();
  }
  // The password and backup dialogs belong to the window and were created
  // with it; the about box is created here.
  TFormAbout about(TFormVardex::kTitle, &form);
  form.AboutHandler = [&about] { about.exec(); };
  splash.reset();

  form.show();
  // Where no window manager activates the window, the first activation
  // still happens once the loop runs.
  QTimer::singleShot(0, &form, [&form] { form.FormActivate(); });
  return app.exec();
}
