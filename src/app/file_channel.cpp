#include "app/file_channel.h"

#include "handlers/hand_overs.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <optional>

namespace a5merge {

namespace {

constexpr std::string_view kMagic = "a5merge-files";
constexpr std::size_t kMaxName = 4096;  // PATH_MAX
constexpr std::size_t kMaxMessage = kMagic.size() + 1 + 2 * (kMaxName + 1) + 1;
constexpr const char* kTaken = "taken\n";
constexpr const char* kRefused = "refused\n";

// Whether the process at the other end of `socket` runs as this user.
bool SameUser(const QLocalSocket& socket) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer,
                        &size) == 0 &&
           peer.uid == ::geteuid();
}

}  // namespace

QString FileChannelPath(const std::string& lockPath) {
    QString path = QFile::decodeName(lockPath.c_str());
    if (path.endsWith(QStringLiteral(".lock"))) path.chop(5);
    return path + QStringLiteral(".socket");
}

// "a5merge-files", NUL, each name and a NUL, then a NUL that ends it.
std::string FileChannel::Message(const std::vector<std::string>& files) {
    return std::string(kMagic) + '\0' + HandOverNames(files) + '\0';
}

std::optional<std::vector<std::string>> FileChannel::FilesOf(std::string_view message) {
    if (message.size() > kMaxMessage || message.substr(0, kMagic.size()) != kMagic ||
        message.size() < kMagic.size() + 2 || message[kMagic.size()] != '\0' ||
        message.substr(message.size() - 2) != std::string_view("\0\0", 2)) {
        return std::nullopt;
    }
    message.remove_prefix(kMagic.size() + 1);
    message.remove_suffix(1);
    return FilesOfHandOver(message, kMaxName,
                           [](std::string_view name) { return name.front() == '/'; });
}

FileChannel::FileChannel(const QString& path, Take take, QObject* parent)
    : QObject(parent), server_(new QLocalServer(this)), take_(std::move(take)) {
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket left by a killed copy goes.
    if (!server_->listen(path) && server_->serverError() == QAbstractSocket::AddressInUseError) {
        QLocalServer::removeServer(path);
        server_->listen(path);
    }
    connect(server_, &QLocalServer::newConnection, this, [this] { Accept(); });
}

FileChannel::~FileChannel() = default;

bool FileChannel::listening() const { return server_->isListening(); }

void FileChannel::Accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!SameUser(*socket)) {
            socket->disconnectFromServer();
            continue;
        }
        auto received = std::make_shared<std::string>();
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, received] {
            const QByteArray bytes = socket->readAll();
            received->append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
            const bool ended =
                received->size() >= 2 &&
                received->compare(received->size() - 2, 2, std::string("\0\0", 2)) == 0;
            if (!ended && received->size() <= kMaxMessage) return;  // more to come
            const std::optional<std::vector<std::string>> files = FilesOf(*received);
            // Taking only queues them: what the files bring (a message box)
            // comes later, after the answer.
            socket->write(files && take_(*files) ? kTaken : kRefused);
            socket->flush();
            socket->disconnectFromServer();
        });
        // Nothing, or not all of it, within a while: not one of ours.
        QTimer::singleShot(2000, socket, [socket] { socket->abort(); });
    }
}

bool SendFilesToRunningCopy(const QString& path, const std::vector<std::string>& files,
                            int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(timeoutMs) || !SameUser(socket)) return false;
    const std::string message = FileChannel::Message(files);
    socket.write(message.data(), static_cast<qint64>(message.size()));
    if (!socket.waitForBytesWritten(timeoutMs)) return false;
    QByteArray answer;
    while (!answer.contains('\n') && socket.waitForReadyRead(timeoutMs)) answer += socket.readAll();
    return answer == kTaken;
}

}  // namespace a5merge
