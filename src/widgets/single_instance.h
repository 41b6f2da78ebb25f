// One window per data folder: a second start of a program on the same data
// folder asks the running one to show itself and ends.
//
// The data-folder lock (LockSingleInstance) decides which start is the
// first; this class only carries the request. The first instance listens
// on a local socket "<runtime folder>/<program>-<md5 of the data folder>",
// usable by its user only; the second connects, sends one fixed command and
// closes. Anything else a client sends is dropped.
#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <string>
#include <string_view>

class QLocalServer;
class QLocalSocket;

namespace brindle {

// Program names of the socket.
inline constexpr std::string_view SINGLE_INSTANCE_HOST = "brindle-host";
inline constexpr std::string_view SINGLE_INSTANCE_VIEW = "brindle-view";

// The socket path of a program and data folder, in the runtime folder
// ($XDG_RUNTIME_DIR, else the cache folder, as the relay lock file uses),
// which is created when missing. Returns 0 or a mapped system code.
uint32_t SingleInstanceName(std::string_view program, const std::string& dataFolder, QString& name);

class SingleInstance : public QObject {
    Q_OBJECT
  public:
    SingleInstance(std::string_view program, const std::string& dataFolder,
                   QObject* parent = nullptr);
    ~SingleInstance() override;

    // Starts listening, for the first instance. A socket file left by a
    // run that crashed is replaced; one that a live instance answers on is
    // not, and the result is then ERROR_ALREADY_EXISTS_CODE. A folder we
    // may not write gives ERROR_ACCESS_DENIED_CODE, a path too long for a
    // socket ERROR_INVALID_PARAMETER_CODE.
    uint32_t Listen();

    // Tells the running instance to show itself, for the second instance.
    // Returns 0 when the command was delivered, ERROR_FILE_NOT_FOUND_CODE
    // when no instance listens.
    uint32_t NotifyRunning();

    const QString& Name() const { return name_; }

  signals:
    // The running instance was asked to show itself.
    void ShowRequested();

  private:
    void Accept();
    void Read(QLocalSocket* socket);

    QString name_;
    uint32_t nNameError_ = 0;
    QLocalServer* server_ = nullptr;
};

} // namespace brindle
