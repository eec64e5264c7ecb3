// TZelMacroServer: the macro conversation other programs of the same user
// hold with Vardex. The service (the program file's name) and the topic
// (the component's name, "MacroServer") name a Unix socket in the user's
// runtime folder. Clients execute macro texts, request the one item
// "MacroResult" that all conversations share, and may advise on it to have
// every change pushed. The wire format is in the README. Owned by a form;
// main thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <stdexcept>
#include <string>

class QLocalServer;

class EDdeMacro : public std::runtime_error {
 public:
  explicit EDdeMacro(const std::string& message) : std::runtime_error(message) {}
};

// The handler of an executed macro: name, parameters and the result text
// (at most 50 characters are kept).
using TProcessMacroEvent = std::function<void(QObject* sender, const QString& name,
                                              const QStringList& params, QString& result)>;

class TZelMacroServer : public QObject {
  Q_OBJECT

 public:
  static constexpr int kMaxResult = 50;
  static constexpr qsizetype kMaxLine = 4096;
  static constexpr const char* kItemName = "MacroResult";

  // `owner` must be a form (a window); otherwise raises EDdeMacro.
  explicit TZelMacroServer(QObject* owner, const QString& name = "MacroServer");
  ~TZelMacroServer() override;

  TProcessMacroEvent OnProcessMacro;

  // Serves the conversation on the socket of `service` and this topic; a
  // socket left by a crashed start is replaced. False when it cannot.
  bool Listen(const QString& service);
  void Close();
  QString SocketPath() const { return socket_path_; }
  // The socket of a service and topic in the user's runtime folder.
  static QString SocketPathFor(const QString& service, const QString& topic);

  // An execute as a conversation delivers it: only the first line of the
  // data is used. Returns the item text it leaves.
  QString ExecuteData(const QString& data);
  QString ItemText() const { return item_text_; }

 signals:
  // Every change of the item, as advised clients receive it.
  void ItemChanged(const QString& text);

 private:
  class TConversation;
  void Accept(int fd);
  void Serve(TConversation* conversation);
  void Answer(TConversation* conversation, const QByteArray& line);
  void SetItemText(const QString& text);

  QLocalServer* server_ = nullptr;
  QString socket_path_;
  QString item_text_;
  QList<QPointer<TConversation>> advised_;
};
